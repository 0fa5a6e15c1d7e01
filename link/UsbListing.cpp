#include "link/UsbListing.h"

#include <vector>

#include "platform/Logging.h"

namespace bv {

std::unique_ptr<ZelmorUSBCRC> ListAndCreateUsbLink(ID2xx& d2xx, bool linkExistedBefore)
{
    static const log::Logger logger("CFreeComm");
    constexpr const char* tag = "CFreeComm";

    uint32_t count = 0;
    if (d2xx.createDeviceInfoList(count) == kD2xxOk)
        BV_LOG_DEBUG(logger, tag, "Number of USB devices is " << count);
    else
        count = 0;

    std::vector<D2xxDeviceInfo> nodes;
    if (d2xx.getDeviceInfoList(nodes, count) != kD2xxOk)
        return nullptr;
    if (nodes.size() > count)
        nodes.resize(count);

    int found = -1;
    for (size_t i = 0; i < nodes.size(); ++i) {
        BV_LOG_DEBUG(logger, tag, "Dev " << i << " " << " Description " << nodes[i].description
                                         << " SerialNumber " << nodes[i].serialNumber);
        if (nodes[i].description.find(kUsbDeviceWord) != std::string::npos) {
            found = static_cast<int>(i);
            break;
        }
    }

    auto link = std::make_unique<ZelmorUSBCRC>(d2xx);
    std::string description;
    if (!linkExistedBefore && found >= 0)
        description = nodes[static_cast<size_t>(found)].description;
    else if (!nodes.empty())
        description = nodes.front().description;
    link->SetDescription(description, static_cast<int>(kD2xxOpenByDescription));
    return link;
}

} // namespace bv
