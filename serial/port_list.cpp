#include "serial/port_list.h"

#include <dirent.h>
#include <grp.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace vantora {
namespace {

std::string Resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

// The first line of a small sysfs attribute file.
std::string Attribute(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line.size() > 128 ? line.substr(0, 128) : line;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir))
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        ::closedir(dir);
    }
    return names;
}

// The adapter's product and serial number: USB serial devices keep them a few levels above the
// tty's device folder (interface, then the USB device).
std::string KernelDescription(const std::string& root, const std::string& ttyName) {
    std::string folder = Resolved(root + "/sys/class/tty/" + ttyName + "/device");
    for (int level = 0; level < 4 && folder.size() > root.size() + 1; ++level) {
        std::string product = Attribute(folder + "/product");
        if (product.empty()) product = Attribute(folder + "/manufacturer");
        if (!product.empty()) {
            const std::string serial = Attribute(folder + "/serial");
            return serial.empty() ? product : product + " (" + serial + ")";
        }
        folder = folder.substr(0, folder.find_last_of('/'));
    }
    return {};
}

}  // namespace

PortListing DescribePort(const std::string& name, const std::string& device, const std::string& root) {
    PortListing port;
    port.Name = name;
    port.Device = device;
    if (device.empty()) return port;
    const std::string real = Resolved(root + device);
    struct stat st {};
    port.Present = !real.empty() && ::stat(real.c_str(), &st) == 0;
    if (!port.Present) return port;

    const std::string byIdFolder = root + "/dev/serial/by-id";
    for (const std::string& entry : Entries(byIdFolder)) {
        if (Resolved(byIdFolder + "/" + entry) == real) {
            port.ById = entry;
            break;
        }
    }
    port.Description = KernelDescription(root, BaseName(real));
    return port;
}

std::string PortDeviceText(const PortListing& port) {
    if (port.Device.empty()) return " — no device";
    if (!port.Present) return port.Device + " — not present";
    if (!port.Description.empty()) return port.Device + " — " + port.Description;
    return port.Device;
}

std::string PortLine(const PortListing& port) {
    return port.Name + "  " + PortDeviceText(port);
}

std::string PortScriptLine(const PortListing& port) {
    auto field = [](const std::string& v) { return v.empty() ? std::string("-") : v; };
    const std::string description = port.Present ? field(port.Description) : "not present";
    return port.Name + "\t" + field(port.Device) + "\t" + field(port.ById) + "\t" + description;
}

std::vector<PortHolder> ProcessesHolding(const std::string& device, const std::string& root) {
    std::vector<PortHolder> holders;
    const std::string real = Resolved(root + device);
    if (real.empty()) return holders;
    const std::string proc = root + "/proc";
    const int self = static_cast<int>(::getpid());
    for (const std::string& entry : Entries(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry.c_str(), &end, 10);
        if (*end != '\0' || pid <= 0 || (root.empty() && pid == self)) continue;
        const std::string fdFolder = proc + "/" + entry + "/fd";
        for (const std::string& fd : Entries(fdFolder)) {
            char target[PATH_MAX];
            const ssize_t n = ::readlink((fdFolder + "/" + fd).c_str(), target, sizeof target - 1);
            if (n <= 0) continue;
            target[n] = '\0';
            // A fake tree's links point inside the tree; the real ones are absolute device paths.
            const std::string linked = target[0] == '/' ? root + target : fdFolder + "/" + target;
            if (Resolved(linked) != real) continue;
            holders.push_back({static_cast<int>(pid), Attribute(proc + "/" + entry + "/comm")});
            break;
        }
    }
    return holders;
}

std::string OpenFailureAdvice(const std::string& device, int err, const std::string& root) {
    switch (err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "Nothing is plugged in at " + device +
                   ".\n\nPlug in the receiver's adapter, or choose the port it is on.";
        case EACCES:
        case EPERM: {
            std::string owners = "dialout";
            struct stat st {};
            if (::stat((root + device).c_str(), &st) == 0)
                if (const struct group* g = ::getgrgid(st.st_gid)) owners = g->gr_name;
            return "You may not open " + device + ": it belongs to the group \"" + owners +
                   "\", and you are not in it.\n\nJoin it with\n    sudo usermod -aG " + owners +
                   " $USER\nthen log out and in again.";
        }
        case EBUSY: {
            std::string text = device + " is in use by another program";
            const std::vector<PortHolder> holders = ProcessesHolding(device, root);
            if (!holders.empty()) {
                text += ": ";
                for (size_t i = 0; i < holders.size(); ++i) {
                    if (i) text += ", ";
                    text += holders[i].Command + " (process " + std::to_string(holders[i].Pid) + ")";
                }
            }
            return text + ".\n\nClose it there and try again.";
        }
        default:
            return {};
    }
}

}  // namespace vantora
