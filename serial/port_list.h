// What stands behind each port of the list: the device it maps to, whether it is there now, and
// the adapter's name and serial number as the kernel reports them. Also the words for a port that
// cannot be opened, where the cause is known.
#pragma once

#include <string>
#include <vector>

namespace vantora {

struct PortListing {
    std::string Name;         // "COM1"
    std::string Device;       // the mapped path, as configured
    bool Present = false;     // the device exists now
    std::string ById;         // its name under /dev/serial/by-id, when it has one
    std::string Description;  // "FT232R USB UART (A1B2C3)", empty when the kernel names none
};

// root prefixes every absolute path that is looked at ("" for the real system, a fake tree in
// tests): the device, /sys/class/tty and /dev/serial/by-id.
PortListing DescribePort(const std::string& name, const std::string& device, const std::string& root = "");

// "/dev/ttyUSB0 — FT232R USB UART (A1B2C3)"; "/dev/ttyUSB2 — not present".
std::string PortDeviceText(const PortListing& port);
// The same after the port's name: "COM1  /dev/ttyUSB0 — FT232R USB UART (A1B2C3)".
std::string PortLine(const PortListing& port);

// The same for scripts: name, device, by-id name, description, separated by tabs; "-" for an
// empty field, and "not present" as the description of a device that is not there.
std::string PortScriptLine(const PortListing& port);

// One process that has the device open: its id and command name.
struct PortHolder {
    int Pid = 0;
    std::string Command;
};
std::vector<PortHolder> ProcessesHolding(const std::string& device, const std::string& root = "");

// Words a user can act on for an open that failed with err (an errno value; EBUSY for a port
// held elsewhere); empty where the cause is not one of the known ones.
std::string OpenFailureAdvice(const std::string& device, int err, const std::string& root = "");

}  // namespace vantora
