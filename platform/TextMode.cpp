#include "platform/TextMode.h"

#include <clocale>
#include <cstdarg>
#include <locale.h>
#include <string>

namespace bv {

bool WriteTextMode(std::FILE* file, std::string_view text)
{
    if (!file)
        return false;
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return std::fwrite(out.data(), 1, out.size(), file) == out.size();
}

std::string VFormatC(const char* format, va_list args)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    const locale_t previous = cLocale ? uselocale(cLocale) : static_cast<locale_t>(0);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<size_t>(length));
    }
    va_end(again);
    if (cLocale)
        uselocale(previous);
    return text;
}

std::string FormatC(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = VFormatC(format, args);
    va_end(args);
    return text;
}

bool PrintTextMode(std::FILE* file, const char* format, ...)
{
    if (!file || !format)
        return false;
    va_list args;
    va_start(args, format);
    const std::string text = VFormatC(format, args);
    va_end(args);
    return WriteTextMode(file, text);
}

} // namespace bv
