#pragma once
#include <map>
#include <string>

namespace bv::strings {

// The program's texts by number. A language module may replace any of them.
const std::string& text(unsigned id);
bool has(unsigned id);
// Replaces texts (a language module's table); an empty map restores our own.
void setOverrides(std::map<unsigned, std::string> overrides);

} // namespace bv::strings
