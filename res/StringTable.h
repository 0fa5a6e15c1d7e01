#pragma once
#include <map>
#include <string>

namespace bv::strings {

// The program's texts by number. A language module may replace any of them.
const std::string& text(unsigned id);
bool has(unsigned id);
// Replaces texts (a language module's table); an empty map restores our own.
void setOverrides(std::map<unsigned, std::string> overrides);

// The serial link's error messages, one per kind 0..8, held in the table from
// kCommErrorBase on so that a language module can replace them too. Kinds
// above 8 give an empty text.
inline constexpr unsigned kCommErrorBase = 61310;
inline constexpr unsigned kCommErrorLastKind = 8;
const std::string& commErrorText(unsigned kind);

} // namespace bv::strings
