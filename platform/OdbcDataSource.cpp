#include "platform/DataSource.h"

#include <sql.h>
#include <sqlext.h>

#include <vector>

namespace bv {
namespace {

std::string diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    std::string out;
    SQLCHAR state[6];
    SQLCHAR text[512];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    for (SQLSMALLINT i = 1;
         SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &length) == SQL_SUCCESS; ++i) {
        if (!out.empty())
            out += "; ";
        out += reinterpret_cast<const char*>(state);
        out += ": ";
        out += reinterpret_cast<const char*>(text);
    }
    return out.empty() ? "unknown ODBC error" : out;
}

// The operator may enter a bare data source name or a full connection text;
// the historical "ODBC;" prefix is accepted too.
std::string connectionString(std::string text)
{
    if (text.rfind("ODBC;", 0) == 0)
        text.erase(0, 5);
    if (text.find('=') == std::string::npos)
        text = "DSN=" + text;
    return text;
}

} // namespace

std::string odbcConnectionText(const std::string& dataSource, const std::string& user,
                               const std::string& password)
{
    auto part = [](const char* key, const std::string& value) -> std::string {
        if (value.empty())
            return "";
        std::string v = value;
        if (v.find_first_of(";{}= ") != std::string::npos || v.front() == ' ') {
            std::string braced = "{";
            for (char c : v) {
                braced += c;
                if (c == '}')
                    braced += '}';
            }
            v = braced + "}";
        }
        return std::string(key) + "=" + v + ";";
    };
    std::string text = part("DSN", dataSource) + part("UID", user) + part("PWD", password);
    if (!text.empty())
        text.pop_back();
    return text;
}

OdbcDataSource::OdbcDataSource() = default;

OdbcDataSource::~OdbcDataSource() { close(); }

bool OdbcDataSource::open(const std::string& connection)
{
    close();
    m_error.clear();
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
        m_error = "cannot allocate an ODBC environment";
        return false;
    }
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
        m_error = diagnostics(SQL_HANDLE_ENV, env);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
        return false;
    }
    std::string text = connectionString(connection);
    std::vector<SQLCHAR> in(text.begin(), text.end());
    in.push_back(0);
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = SQLDriverConnect(dbc, nullptr, in.data(), SQL_NTS, out, sizeof out, &outLength,
                                          SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        m_error = diagnostics(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
        return false;
    }
    m_env = env;
    m_dbc = dbc;
    return true;
}

void OdbcDataSource::close()
{
    if (m_dbc) {
        SQLDisconnect(static_cast<SQLHDBC>(m_dbc));
        SQLFreeHandle(SQL_HANDLE_DBC, static_cast<SQLHDBC>(m_dbc));
        m_dbc = nullptr;
    }
    if (m_env) {
        SQLFreeHandle(SQL_HANDLE_ENV, static_cast<SQLHENV>(m_env));
        m_env = nullptr;
    }
}

} // namespace bv
