#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace bv {

// The file operations of the ini profile. The real one works on the file
// system; tests put in one that refuses writes, which root cannot get from
// file permissions.
class IProfileFiles {
public:
    // NotAFile: a FIFO, a device or a folder stands where the file should be.
    enum class ReadResult { Ok, Missing, Failed, NotAFile };

    virtual ~IProfileFiles() = default;
    virtual ReadResult read(const std::string& path, std::string& content) = 0;
    // Opens an existing file for appending and closes it again, writing
    // nothing: the test whether the file may be written.
    virtual bool canWrite(const std::string& path) = 0;
    // Replaces the whole file so that a crash leaves either the old or the
    // new content, never a truncated file. Fails, keeping the old file, when
    // the existing file may not be written.
    virtual bool replace(const std::string& path, const std::string& content) = 0;
    // Refuses to delete a file that may not be written, as Windows does.
    virtual bool remove(const std::string& path) = 0;
    // As replace(), but the new content is readable by its owner only from
    // the moment it exists (a new file 0600, an existing one loses the group
    // and others bits): for content that holds a secret.
    virtual bool replaceOwnerOnly(const std::string& path, const std::string& content)
    {
        return replace(path, content);
    }
    // Whether users other than the owner may read the file.
    virtual bool readableByOthers(const std::string&) { return false; }
    // Whether the replacement beside the file can be created: a file that may
    // be written is no use in a folder that may not.
    virtual bool canReplace(const std::string& path) { return canWrite(path); }
};

class FileSystemProfileFiles final : public IProfileFiles {
public:
    ReadResult read(const std::string& path, std::string& content) override;
    bool canWrite(const std::string& path) override;
    bool replace(const std::string& path, const std::string& content) override;
    bool remove(const std::string& path) override;
    bool canReplace(const std::string& path) override;
    bool replaceOwnerOnly(const std::string& path, const std::string& content) override;
    bool readableByOthers(const std::string& path) override;

private:
    bool replaceWith(const std::string& path, const std::string& content, bool ownerOnly);
};

// The process-wide real file system.
IProfileFiles& realProfileFiles();

// One ini file held in memory, with the semantics of the Windows profile
// functions: section and key names compare without regard to case; the first
// occurrence of a key wins; every line that is not rewritten stays byte for
// byte, in its place, with the file's own line ending.
class ProfileDocument {
public:
    ProfileDocument() = default;
    explicit ProfileDocument(std::string_view content) { parse(content); }

    void parse(std::string_view content);
    std::string text() const;

    // GetPrivateProfileString: the value without surrounding blanks and
    // without one pair of matching quotes, cut to bufferSize - 1 characters;
    // the default (without trailing blanks) when the key is absent.
    std::string getString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, std::size_t bufferSize) const;
    // GetPrivateProfileInt: the leading decimal integer of the value (0 when
    // the value starts with no number); the default when the key is absent or
    // its value empty.
    int getInt(std::string_view section, std::string_view key, int defaultValue) const;
    // WritePrivateProfileString: replaces the value or adds the key, creating
    // the section at the end when needed. A line break in the value ends it,
    // so a value can never add lines of its own to the file.
    void writeString(std::string_view section, std::string_view key, std::string_view value);

    bool modified() const { return m_modified; }
    void clearModified() { m_modified = false; }
    const std::string& lineEnding() const { return m_eol; }

private:
    struct Found {
        std::size_t line = 0;
        bool valid = false;
    };
    Found findKey(std::string_view section, std::string_view key) const;
    void buildIndex() const;
    // Line at was inserted as a key of section (as its header names it).
    void indexInserted(std::size_t at, std::string_view section);

    std::string m_bom;
    std::vector<std::string> m_lines;  // without line endings
    std::string m_eol = "\n";
    bool m_finalEol = true;
    bool m_modified = false;

    // Lower-cased "section\nkey" -> line of its first occurrence, built once
    // and kept up to date by the writes: adding a file's keys one by one
    // does not build it anew each time.
    mutable std::unordered_map<std::string, std::size_t> m_index;
    mutable bool m_indexValid = false;
};

// The three Windows profile operations on a file, each reading the file
// anew. Reading a batch of keys or writing many of them is cheaper through
// load() and store(), which cost one read and one rewrite.
class Profile {
public:
    explicit Profile(IProfileFiles& files = realProfileFiles()) : m_files(&files) {}

    std::string getString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view defaultValue, std::size_t bufferSize) const;
    int getInt(const std::string& path, std::string_view section, std::string_view key,
               int defaultValue) const;
    // Returns false when the file could not be written; it is then unchanged.
    bool writeString(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view value);

    // A missing file gives an empty document. Returns false (and an empty
    // document) when the file exists but cannot be read: writing that
    // document back would lose the file's content.
    bool load(const std::string& path, ProfileDocument& document) const;
    // Writes the document when it was modified (or the file is new);
    // ownerOnly: see IProfileFiles::replaceOwnerOnly.
    bool store(const std::string& path, ProfileDocument& document, bool ownerOnly = false);

    IProfileFiles& files() const { return *m_files; }

private:
    IProfileFiles* m_files;
};

// Leading-number conversions of profile texts, independent of the process
// locale (the window's locale may use a decimal comma; the file never does).
// Text that starts with no number gives 0.
int leadingInt(std::string_view text);              // decimal, sign, wraps at 32 bits
unsigned long leadingUnsigned(std::string_view text);
double leadingReal(std::string_view text);
// A real cut to an integer, fraction dropped; out of range clamps, NaN gives 0.
int truncToInt(double value);
long truncToLong(double value);
// printf-style formatting of one number in the "C" locale ("%1.8f", "%g").
std::string formatReal(const char* format, double value);

} // namespace bv
