#include "cli/PortList.h"

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "link/UsbListing.h"
#include "platform/D2xx.h"
#include "platform/SerialPort.h"

namespace bv::cli {

int listPorts(ISerialSystem& ports, ID2xx& usb, std::ostream& out, std::ostream& err)
{
    int found = 0;
    for (const std::string& name : ports.listPorts()) {
        const std::string path = serialDevicePath(name);
        out << "serial " << name;
        if (path != name)
            out << " " << path;
        out << "\n";
        ++found;
    }

    uint32_t count = 0;
    std::vector<D2xxDeviceInfo> nodes;
    if (usb.createDeviceInfoList(count) != kD2xxOk || usb.getDeviceInfoList(nodes, count) != kD2xxOk) {
        err << "brivane-cli: the USB adapters cannot be listed\n";
        return 1;
    }
    if (nodes.size() > count)
        nodes.resize(count);
    for (const D2xxDeviceInfo& node : nodes) {
        char id[16];
        std::snprintf(id, sizeof id, "%04x:%04x", node.id >> 16, node.id & 0xFFFFu);
        out << "usb " << (node.description.empty() ? std::string("(no description)") : node.description);
        if (!node.serialNumber.empty())
            out << " serial " << node.serialNumber;
        out << " id " << id;
        if (node.description.find(kUsbDeviceWord) != std::string::npos)
            out << " (the program's adapter)";
        out << "\n";
        ++found;
    }
    if (found == 0)
        err << "brivane-cli: no serial port or USB adapter can be opened (a port the user may not open "
               "is not listed: add the user to the dialout group)\n";
    out.flush();
    return 0;
}

} // namespace bv::cli
