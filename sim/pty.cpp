#include "sim/pty.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "serial/baud_rates.h"

namespace vantora::sim {

bool Pty::Open(int rate, std::string& error) {
    Close();
    int m = posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        if (m >= 0) ::close(m);
        return false;
    }
    char name[256];
    if (ptsname_r(m, name, sizeof name) != 0) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        ::close(m);
        return false;
    }
    int s = ::open(name, O_RDWR | O_NOCTTY);
    if (s < 0) {
        error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        ::close(m);
        return false;
    }
    // Raw, so that nothing is echoed or translated before the host sets its own mode.
    termios tio{};
    if (tcgetattr(s, &tio) == 0) {
        cfmakeraw(&tio);
        speed_t sp = B0;
        if (SpeedOfBaud(rate, sp)) {
            cfsetispeed(&tio, sp);
            cfsetospeed(&tio, sp);
        }
        tcsetattr(s, TCSANOW, &tio);
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    master_ = m;
    slave_ = s;
    slavePath_ = name;
    return true;
}

void Pty::Close() {
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    master_ = slave_ = -1;
}

int Pty::HostRate() const {
    if (slave_ < 0) return 0;
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0) return 0;
    return BaudOfSpeed(cfgetospeed(&tio));
}

void Pty::DropUnread() {
    if (slave_ >= 0) tcflush(slave_, TCIFLUSH);
}

bool PointLink(const std::string& link, const std::string& target, std::string& error) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = link + " exists and is not a symbolic link";
        return false;
    }
    // A new link renamed over the old one: readers never see the name missing.
    std::string tmp = link + ".tmp" + std::to_string(getpid());
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), link.c_str()) != 0) {
        error = "cannot make the link " + link + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

void UnpointLink(const std::string& link, const std::string& target) {
    if (link.empty()) return;
    char named[4096];
    const ssize_t n = ::readlink(link.c_str(), named, sizeof named);
    if (n > 0 && std::string(named, static_cast<size_t>(n)) == target) ::unlink(link.c_str());
}

}  // namespace vantora::sim
