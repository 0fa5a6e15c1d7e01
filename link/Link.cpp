#include "link/Link.h"

namespace bv {

const char* linkResultText(LinkResult r)
{
    switch (r) {
    case LinkResult::Ok: return "sent";
    case LinkResult::NotOpen: return "no link open";
    case LinkResult::Failed: return "not sent";
    case LinkResult::Incomplete: return "write incomplete";
    }
    return "unknown";
}

} // namespace bv
