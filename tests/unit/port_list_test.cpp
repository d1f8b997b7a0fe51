// The port list against a fake system tree: devices, their adapters' names, by-id links, absent
// devices; and the words for ports that cannot be opened.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "serial/port_list.h"
#include "tests/support/files.h"

namespace vantora {
namespace {

namespace fs = test::fs;

// A tree as the kernel lays it out for one USB adapter (ttyUSB0) and one built-in port (ttyS0).
void MakeFakeSystem(const fs::path& root) {
    const fs::path usb = root / "sys/devices/pci0000:00/usb1/1-1";
    fs::create_directories(usb / "1-1:1.0/ttyUSB0");
    test::WriteFile(usb / "product", "FT232R USB UART\n");
    test::WriteFile(usb / "serial", "A1B2C3\n");
    fs::create_directories(root / "sys/devices/platform/serial8250/tty/ttyS0");
    fs::create_directories(root / "sys/class/tty/ttyUSB0");
    fs::create_directories(root / "sys/class/tty/ttyS0");
    fs::create_directory_symlink("../../../devices/pci0000:00/usb1/1-1/1-1:1.0",
                                 root / "sys/class/tty/ttyUSB0/device");
    fs::create_directory_symlink("../../../devices/platform/serial8250", root / "sys/class/tty/ttyS0/device");
    fs::create_directories(root / "dev/serial/by-id");
    test::WriteFile(root / "dev/ttyUSB0", "");
    test::WriteFile(root / "dev/ttyS0", "");
    fs::create_symlink("../../ttyUSB0", root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
}

TEST(PortList, DescribesEachMappedDevice) {
    test::TempDir t("ports");
    MakeFakeSystem(t.Dir());
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
    struct Case {
        std::string device;
        bool present;
        std::string byId, line;
    } cases[] = {
        {"/dev/ttyUSB0", true, byId.substr(18), "COM1  /dev/ttyUSB0 — FT232R USB UART (A1B2C3)"},
        {byId, true, byId.substr(18), "COM1  " + byId + " — FT232R USB UART (A1B2C3)"},
        {"/dev/ttyS0", true, "", "COM1  /dev/ttyS0"},
        {"/dev/ttyUSB1", false, "", "COM1  /dev/ttyUSB1 — not present"},
        {"", false, "", "COM1   — no device"},
    };
    for (const Case& c : cases) {
        const PortListing port = DescribePort("COM1", c.device, t.Dir().string());
        EXPECT_EQ(std::tie(port.Present, port.ById), std::tie(c.present, c.byId)) << c.device;
        EXPECT_EQ(PortLine(port), c.line);
    }
    EXPECT_EQ(PortScriptLine(DescribePort("COM2", "/dev/ttyUSB0", t.Dir().string())),
              "COM2\t/dev/ttyUSB0\t" + byId.substr(18) + "\tFT232R USB UART (A1B2C3)");
    EXPECT_EQ(PortScriptLine(DescribePort("COM3", "/dev/ttyUSB7", t.Dir().string())),
              "COM3\t/dev/ttyUSB7\t-\tnot present");
}

TEST(PortList, OpenFailuresSayWhatToDo) {
    test::TempDir t("ports");
    MakeFakeSystem(t.Dir());
    const std::string root = t.Dir().string();
    // A process of the fake tree that holds ttyUSB0.
    fs::create_directories(t.Dir() / "proc/4242/fd");
    test::WriteFile(t.Dir() / "proc/4242/comm", "minicom\n");
    fs::create_symlink("/dev/ttyUSB0", t.Dir() / "proc/4242/fd/3");

    const std::pair<int, const char*> cases[] = {
        {ENOENT, "Nothing is plugged in at /dev/ttyUSB0"},
        {EACCES, "usermod -aG"},
        {EBUSY, "minicom (process 4242)"},
        {EIO, ""},  // unknown causes keep the generic message
    };
    for (const auto& [err, mustSay] : cases) {
        const std::string advice = OpenFailureAdvice("/dev/ttyUSB0", err, root);
        EXPECT_EQ(advice.empty(), *mustSay == '\0') << advice;
        EXPECT_NE(advice.find(mustSay), std::string::npos) << advice;
    }
}

}  // namespace
}  // namespace vantora
