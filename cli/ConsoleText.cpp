#include "cli/ConsoleText.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cctype>

namespace bv::cli {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

bool sameCharset(std::string name, const char* latin1)
{
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
    return name == latin1;
}

} // namespace

std::string ConsoleText::environmentCodeset()
{
    // A locale of its own: setlocale would change how the whole process
    // classifies characters.
    locale_t environment = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (!environment)
        return "ANSI_X3.4-1968";  // a locale that is not installed counts as C
    std::string name = nl_langinfo_l(CODESET, environment);
    freelocale(environment);
    return name;
}

ConsoleText::ConsoleText(std::string codeset)
    : m_codeset(codeset.empty() ? environmentCodeset() : std::move(codeset))
{
    if (sameCharset(m_codeset, "ISO-8859-1") || sameCharset(m_codeset, "ISO8859-1"))
        return;
    iconv_t c = iconv_open(m_codeset.c_str(), "ISO-8859-1");
    if (c != kNoConverter)
        m_converter = c;
}

ConsoleText::~ConsoleText()
{
    if (m_converter)
        iconv_close(static_cast<iconv_t>(m_converter));
}

std::string ConsoleText::fromLatin1(const std::string& text) const
{
    if (!m_converter || std::all_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x80; }))
        return text;
    iconv_t c = static_cast<iconv_t>(m_converter);
    iconv(c, nullptr, nullptr, nullptr, nullptr);
    std::string out(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* to = out.data();
    size_t toLeft = out.size();
    if (iconv(c, &in, &inLeft, &to, &toLeft) == static_cast<size_t>(-1))
        return text;  // not representable here: the bytes as they were
    out.resize(out.size() - toLeft);
    return out;
}

} // namespace bv::cli
