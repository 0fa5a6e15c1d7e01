#pragma once
#include <memory>
#include <string>

namespace bv {

// A data source for the protocol's database switch. The connection text is the
// one the operator entered ("DSN=...;UID=...;PWD=..." or a bare data source
// name); it may hold a password, so it is never logged.
class IDataSource {
public:
    virtual ~IDataSource() = default;
    virtual bool open(const std::string& connection) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Diagnostic text of the last failure (driver messages, no connection text).
    virtual std::string lastError() const = 0;
};

// Makes a fresh data source for each protocol write; tests hand in fakes.
class IDataSourceFactory {
public:
    virtual ~IDataSourceFactory() = default;
    virtual std::unique_ptr<IDataSource> create() = 0;
};

// "DSN=...;UID=...;PWD=..." with values braced where ODBC needs it; empty
// parts are left out.
std::string odbcConnectionText(const std::string& dataSource, const std::string& user,
                               const std::string& password);

// unixODBC through SQLDriverConnect.
class OdbcDataSource final : public IDataSource {
public:
    OdbcDataSource();
    ~OdbcDataSource() override;
    OdbcDataSource(const OdbcDataSource&) = delete;
    OdbcDataSource& operator=(const OdbcDataSource&) = delete;

    bool open(const std::string& connection) override;
    void close() override;
    bool isOpen() const override { return m_dbc != nullptr; }
    std::string lastError() const override { return m_error; }

private:
    void* m_env = nullptr;
    void* m_dbc = nullptr;
    std::string m_error;
};

class OdbcDataSourceFactory final : public IDataSourceFactory {
public:
    std::unique_ptr<IDataSource> create() override { return std::make_unique<OdbcDataSource>(); }
};

} // namespace bv
