#pragma once
#include <string>

namespace bv::cli {

// Latin-1 text (the protocol line as the file holds it) in the character set
// standard output is read in: the locale's (LC_ALL, LC_CTYPE, LANG), UTF-8
// under C.UTF-8 or de_DE.UTF-8. A character set that cannot hold a character
// (plain ASCII) gets the Latin-1 bytes unchanged, as before.
class ConsoleText {
public:
    // codeset: as nl_langinfo(CODESET) names it; empty: the environment's.
    explicit ConsoleText(std::string codeset = {});
    ~ConsoleText();
    ConsoleText(const ConsoleText&) = delete;
    ConsoleText& operator=(const ConsoleText&) = delete;

    std::string fromLatin1(const std::string& text) const;
    const std::string& codeset() const { return m_codeset; }

    // The character set of LC_CTYPE as the environment sets it; the
    // process's own locale is left as it is.
    static std::string environmentCodeset();

private:
    std::string m_codeset;
    void* m_converter = nullptr;  // iconv_t; null: bytes pass unchanged
};

} // namespace bv::cli
