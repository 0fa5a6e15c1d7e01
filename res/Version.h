#pragma once
#include <string>

namespace bv {

// "brivane-cli 1.0 (git 1a2b3c4d5e)": the build's version and, when it was
// built from a checkout, the revision.
std::string versionText(const std::string& program);
// "1.0", or "1.0-1a2b3c4d5e" from a checkout.
std::string versionNumber();

} // namespace bv
