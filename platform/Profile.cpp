#include "platform/Profile.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bv {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view trimLeft(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view trimRight(std::string_view s)
{
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view trim(std::string_view s) { return trimRight(trimLeft(s)); }

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = lowerAscii(c);
    return out;
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

// Everything up to the first line break: the profile has one value per line.
std::string_view firstLine(std::string_view s) { return s.substr(0, s.find_first_of("\r\n")); }

enum class LineKind { Other, Section, Key };

struct LineInfo {
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::string_view value;
};

LineInfo classify(std::string_view line)
{
    LineInfo info;
    std::string_view t = trimLeft(line);
    if (t.empty() || t.front() == ';')
        return info;
    if (t.front() == '[') {
        t.remove_prefix(1);
        info.kind = LineKind::Section;
        info.name = trim(t.substr(0, t.find(']')));
        return info;
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return info;
    info.kind = LineKind::Key;
    info.name = trim(t.substr(0, eq));
    info.value = t.substr(eq + 1);
    return info;
}

std::string indexKey(std::string_view section, std::string_view key)
{
    std::string k = lower(section);
    k += '\n';
    k += lower(key);
    return k;
}

locale_t cLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

bool writeAll(int fd, const std::string& content)
{
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string directoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A link to the settings file stays a link: the file it names is replaced.
std::string resolveTarget(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string target(real);
            std::free(real);
            return target;
        }
    }
    return path;
}

} // namespace

// ---------------------------------------------------------------------------
// File system

IProfileFiles::ReadResult FileSystemProfileFiles::read(const std::string& path, std::string& content)
{
    content.clear();
    // Non-blocking, so that a FIFO in the file's place is refused instead of waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::Missing : ReadResult::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadResult::NotAFile;
    }
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            content.clear();
            return ReadResult::Failed;
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ReadResult::Ok;
}

bool FileSystemProfileFiles::canWrite(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
}

bool FileSystemProfileFiles::canReplace(const std::string& path)
{
    if (!canWrite(path))
        return false;
    // A real try, not access(): root, ACLs and read-only mounts all answer truly.
    std::string probe = resolveTarget(path) + ".probeXXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

bool FileSystemProfileFiles::replace(const std::string& path, const std::string& content)
{
    return replaceWith(path, content, false);
}

bool FileSystemProfileFiles::replaceOwnerOnly(const std::string& path, const std::string& content)
{
    return replaceWith(path, content, true);
}

bool FileSystemProfileFiles::readableByOthers(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

bool FileSystemProfileFiles::replaceWith(const std::string& path, const std::string& content, bool ownerOnly)
{
    const std::string target = resolveTarget(path);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || !canWrite(target)))
        return false;

    static unsigned counter = 0;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(++counter);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownerOnly ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;

    bool ok = true;
    if (exists) {
        // Before the content goes in, so the secret is never readable by others.
        ok = ::fchmod(fd, st.st_mode & (ownerOnly ? 07700 : 07777)) == 0;
        // Only root may hand the file back to its owner; others keep it as theirs.
        const int owned = ::fchown(fd, st.st_uid, st.st_gid);
        (void)owned;
    }
    ok = ok && writeAll(fd, content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    const int dirFd = ::open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool FileSystemProfileFiles::remove(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !canWrite(path))
        return false;
    return ::unlink(path.c_str()) == 0;
}

IProfileFiles& realProfileFiles()
{
    static FileSystemProfileFiles files;
    return files;
}

// ---------------------------------------------------------------------------
// Document

void ProfileDocument::parse(std::string_view content)
{
    m_bom.clear();
    m_lines.clear();
    m_eol = "\n";
    m_finalEol = true;
    m_modified = false;
    m_indexValid = false;

    if (content.substr(0, 3) == "\xEF\xBB\xBF") {
        m_bom = content.substr(0, 3);
        content.remove_prefix(3);
    }
    if (content.empty())
        return;
    const std::size_t firstLf = content.find('\n');
    if (firstLf != std::string_view::npos && firstLf > 0 && content[firstLf - 1] == '\r')
        m_eol = "\r\n";
    m_finalEol = content.back() == '\n';

    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string_view::npos)
            end = content.size();
        std::string_view line = content.substr(start, end - start);
        // Only a line break ends in "\r\n": a last line without one keeps its '\r'.
        if (m_eol == "\r\n" && end < content.size() && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        m_lines.emplace_back(line);
        start = end + 1;
    }
}

std::string ProfileDocument::text() const
{
    std::string out = m_bom;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        out += m_lines[i];
        if (i + 1 < m_lines.size() || m_finalEol)
            out += m_eol;
    }
    return out;
}

void ProfileDocument::buildIndex() const
{
    m_index.clear();
    bool inSection = false;
    std::string section;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const LineInfo info = classify(m_lines[i]);
        if (info.kind == LineKind::Section) {
            inSection = true;
            section = info.name;
        } else if (info.kind == LineKind::Key && inSection) {
            m_index.emplace(indexKey(section, info.name), i);
        }
    }
    m_indexValid = true;
}

ProfileDocument::Found ProfileDocument::findKey(std::string_view section, std::string_view key) const
{
    if (!m_indexValid)
        buildIndex();
    auto it = m_index.find(indexKey(section, key));
    if (it == m_index.end())
        return {};
    return {it->second, true};
}

std::string ProfileDocument::getString(std::string_view section, std::string_view key,
                                       std::string_view defaultValue, std::size_t bufferSize) const
{
    if (bufferSize == 0)
        return {};
    std::string_view value;
    const Found found = findKey(section, key);
    if (found.valid) {
        value = trim(classify(m_lines[found.line]).value);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
    } else {
        value = trimRight(defaultValue);
    }
    return std::string(value.substr(0, bufferSize - 1));
}

int ProfileDocument::getInt(std::string_view section, std::string_view key, int defaultValue) const
{
    // The Windows function reads the value into a buffer of 30 characters first.
    const std::string value = getString(section, key, "", 30);
    if (value.empty())
        return defaultValue;
    return leadingInt(value);
}

void ProfileDocument::writeString(std::string_view section, std::string_view key, std::string_view value)
{
    section = trim(firstLine(section));
    key = trim(firstLine(key));
    value = firstLine(value);

    const Found found = findKey(section, key);
    if (found.valid) {
        std::string& line = m_lines[found.line];
        std::string replaced(classify(line).name);
        replaced += '=';
        replaced += value;
        if (replaced != line) {
            line = std::move(replaced);
            m_modified = true;
        }
        return;
    }

    std::string keyLine(key);
    keyLine += '=';
    keyLine += value;

    // The first section of that name gets the key after its last key line.
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const LineInfo info = classify(m_lines[i]);
        if (info.kind != LineKind::Section || !equalNoCase(info.name, section))
            continue;
        std::size_t insertAt = i + 1;
        for (std::size_t j = i + 1; j < m_lines.size(); ++j) {
            const LineKind kind = classify(m_lines[j]).kind;
            if (kind == LineKind::Section)
                break;
            if (kind == LineKind::Key)
                insertAt = j + 1;
        }
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(keyLine));
        if (insertAt == m_lines.size() - 1)
            m_finalEol = true;
        m_modified = true;
        indexInserted(insertAt, classify(m_lines[i]).name);
        return;
    }

    std::string header = "[";
    header += section;
    header += ']';
    m_lines.push_back(std::move(header));
    m_lines.push_back(std::move(keyLine));
    m_finalEol = true;
    m_modified = true;
    indexInserted(m_lines.size() - 1, classify(m_lines[m_lines.size() - 2]).name);
}

void ProfileDocument::indexInserted(std::size_t at, std::string_view section)
{
    if (!m_indexValid)
        return;
    const LineInfo info = classify(m_lines[at]);
    if (info.kind != LineKind::Key) {
        // A "key" that reads as a header or a comment changes what follows it.
        m_indexValid = false;
        return;
    }
    for (auto& entry : m_index)
        if (entry.second >= at)
            ++entry.second;
    // The first occurrence wins, as when the index is built.
    const auto [it, added] = m_index.emplace(indexKey(section, info.name), at);
    if (!added && it->second > at)
        it->second = at;
}

// ---------------------------------------------------------------------------
// Per-call operations

bool Profile::load(const std::string& path, ProfileDocument& document) const
{
    std::string content;
    const IProfileFiles::ReadResult result = m_files->read(path, content);
    document.parse(result == IProfileFiles::ReadResult::Ok ? std::string_view(content) : std::string_view());
    return result == IProfileFiles::ReadResult::Ok || result == IProfileFiles::ReadResult::Missing;
}

bool Profile::store(const std::string& path, ProfileDocument& document, bool ownerOnly)
{
    if (!document.modified())
        return true;
    if (!(ownerOnly ? m_files->replaceOwnerOnly(path, document.text()) : m_files->replace(path, document.text())))
        return false;
    document.clearModified();
    return true;
}

std::string Profile::getString(const std::string& path, std::string_view section, std::string_view key,
                               std::string_view defaultValue, std::size_t bufferSize) const
{
    ProfileDocument document;
    load(path, document);
    return document.getString(section, key, defaultValue, bufferSize);
}

int Profile::getInt(const std::string& path, std::string_view section, std::string_view key,
                    int defaultValue) const
{
    ProfileDocument document;
    load(path, document);
    return document.getInt(section, key, defaultValue);
}

bool Profile::writeString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view value)
{
    ProfileDocument document;
    if (!load(path, document))
        return false;
    document.writeString(section, key, value);
    return store(path, document);
}

// ---------------------------------------------------------------------------
// Conversions

int leadingInt(std::string_view text)
{
    text = trimLeft(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10u + static_cast<uint32_t>(c - '0');
    }
    if (negative)
        value = 0u - value;
    return static_cast<int>(value);
}

unsigned long leadingUnsigned(std::string_view text)
{
    const std::string copy(text);
    return std::strtoul(copy.c_str(), nullptr, 10);
}

double leadingReal(std::string_view text)
{
    const std::string copy(text);
    return strtod_l(copy.c_str(), nullptr, cLocale());
}

int truncToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483648.0)
        return INT_MAX;
    if (value <= -2147483649.0)
        return INT_MIN;
    return static_cast<int>(value);
}

long truncToLong(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(LONG_MAX))
        return LONG_MAX;
    if (value <= static_cast<double>(LONG_MIN))
        return LONG_MIN;
    return static_cast<long>(value);
}

std::string formatReal(const char* format, double value)
{
    const locale_t previous = uselocale(cLocale());
    char small[64];
    int n = std::snprintf(small, sizeof small, format, value);
    std::string out;
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
        out.assign(small, static_cast<std::size_t>(n));
    } else if (n >= 0) {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::snprintf(out.data(), out.size(), format, value);
        out.resize(static_cast<std::size_t>(n));
    }
    uselocale(previous);
    return out;
}

} // namespace bv
