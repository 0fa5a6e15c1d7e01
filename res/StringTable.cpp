#include "res/StringTable.h"

#include <mutex>

namespace bv::strings {
namespace {

const std::map<unsigned, std::string>& builtIn()
{
    static const std::map<unsigned, std::string> table = {
        {6117, "Cannot open Database !"},
    };
    return table;
}

std::map<unsigned, std::string>& overrides()
{
    static std::map<unsigned, std::string> table;
    return table;
}

} // namespace

const std::string& text(unsigned id)
{
    static const std::string empty;
    if (auto it = overrides().find(id); it != overrides().end())
        return it->second;
    if (auto it = builtIn().find(id); it != builtIn().end())
        return it->second;
    return empty;
}

bool has(unsigned id) { return overrides().count(id) || builtIn().count(id); }

void setOverrides(std::map<unsigned, std::string> table) { overrides() = std::move(table); }

} // namespace bv::strings
