#pragma once
#include <cstdio>
#include <cstdarg>
#include <string>
#include <string_view>

namespace bv {

// Our text files (the protocol file) keep the line ends they always had:
// every "\n" goes to the file as "\r\n". The file is opened in binary mode.
bool WriteTextMode(std::FILE* file, std::string_view text);
// printf-style, same line ends. Numbers follow the C locale ('.' as decimal
// point) whatever the process locale is.
bool PrintTextMode(std::FILE* file, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// snprintf into a string in the C locale, for texts that files and other
// programs read back.
std::string FormatC(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string VFormatC(const char* format, va_list args);

} // namespace bv
