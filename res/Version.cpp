#include "res/Version.h"

#include "BrivaneVersion.h"

namespace bv {

std::string versionText(const std::string& program)
{
    std::string text = program + " " + BRIVANE_VERSION;
    if (*BRIVANE_REVISION)
        text += std::string(" (git ") + BRIVANE_REVISION + ")";
    return text;
}

std::string versionNumber()
{
    std::string text = BRIVANE_VERSION;
    if (*BRIVANE_REVISION)
        text += std::string("-") + BRIVANE_REVISION;
    return text;
}

} // namespace bv
