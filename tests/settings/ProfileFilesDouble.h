#pragma once
#include <string>

#include "platform/Profile.h"

namespace bv::test {

// The real file system, except that the file behaves as write-protected:
// it reads, but every write test, rewrite and deletion fails.
class WriteProtectedFiles final : public IProfileFiles {
public:
    ReadResult read(const std::string& path, std::string& content) override
    {
        return m_real.read(path, content);
    }
    bool canWrite(const std::string&) override
    {
        ++writeTests;
        return false;
    }
    bool replace(const std::string&, const std::string&) override
    {
        ++replaces;
        return false;
    }
    bool remove(const std::string&) override
    {
        ++removes;
        return false;
    }

    int writeTests = 0, replaces = 0, removes = 0;

private:
    FileSystemProfileFiles m_real;
};

} // namespace bv::test
