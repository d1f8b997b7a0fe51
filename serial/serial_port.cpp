#include "serial/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <tuple>
#include <utility>

#include "serial/baud_rates.h"

namespace vantora {

namespace {

constexpr const char* BoxCaption = "Error";

#ifdef CMSPAR
constexpr tcflag_t MarkSpaceFlag = CMSPAR;
#else
constexpr tcflag_t MarkSpaceFlag = 0;
#endif

constexpr tcflag_t FrameFlags = CSIZE | PARENB | PARODD | CSTOPB | MarkSpaceFlag;

// Puts baud rate, data bits, parity code (0 none, 1 odd, 2 even, 3 mark, 4 space) and stop-bit
// code (0 one, 1 one and a half, 2 two) into t. False for a value the terminal cannot take.
bool SetFrame(termios& t, int baud, int byteSize, int parity, int stopBits) {
    speed_t speed = 0;
    if (!SpeedOfBaud(baud, speed)) return false;
    tcflag_t frame = 0;
    switch (byteSize) {
        case 5:
            frame |= CS5;
            break;
        case 6:
            frame |= CS6;
            break;
        case 7:
            frame |= CS7;
            break;
        case 8:
            frame |= CS8;
            break;
        default:
            return false;
    }
    switch (parity) {
        case 0:
            break;
        case 1:
            frame |= PARENB | PARODD;
            break;
        case 2:
            frame |= PARENB;
            break;
        case 3:
        case 4:
            if (MarkSpaceFlag == 0) return false;
            frame |= PARENB | MarkSpaceFlag | (parity == 3 ? PARODD : 0);
            break;
        default:
            return false;
    }
    switch (stopBits) {
        case 0:
            break;
        case 1:  // one and a half exists only for 5-bit characters; terminals know two
        case 2:
            frame |= CSTOPB;
            break;
        default:
            return false;
    }
    t.c_cflag = (t.c_cflag & ~FrameFlags) | frame;
    return cfsetispeed(&t, speed) == 0 && cfsetospeed(&t, speed) == 0;
}

// tcsetattr succeeds when any part of the request was taken: read back, so that a device that
// dropped the rate or the frame is reported instead of running with other settings.
// Returns 0 or an errno value.
int ApplyFrame(int fd, const termios& wanted) {
    if (tcsetattr(fd, TCSANOW, &wanted) != 0) return errno;
    termios actual{};
    if (tcgetattr(fd, &actual) != 0) return errno;
    if ((actual.c_cflag & FrameFlags) != (wanted.c_cflag & FrameFlags) ||
        cfgetospeed(&actual) != cfgetospeed(&wanted) || cfgetispeed(&actual) != cfgetispeed(&wanted)) {
        return EINVAL;
    }
    return 0;
}

// The line settings of Open, built from nothing: raw 8-bit transfer without any flow control,
// parity check or character handling; reads never block in the driver. Returns 0 or errno.
int ApplyNewLineSettings(int fd, int baud, int byteSize, int parity, int stopBits) {
    termios t{};
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD | HUPCL;  // HUPCL: closing lowers DTR and RTS again
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (!SetFrame(t, baud, byteSize, parity, stopBits)) return EINVAL;
    if (int err = ApplyFrame(fd, t); err != 0) return err;
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
        return errno;  // devices without modem lines (pseudo-terminals) are fine
    }
    return 0;
}

std::string WithCode(const char* text, int code) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %d", text, code);
    return buf;
}

}  // namespace

// The port index, the spare setting and the queue sizes have no effect on a terminal device.
TSerialPort::TSerialPort(int, int baud, int byteSize, int stopBits, int parity, int, int, int,
                         std::string devicePath, MessageBoxSink& boxes)
    : devicePath_(std::move(devicePath)),
      boxes_(boxes),
      baud_(baud),
      byteSize_(byteSize),
      stopBits_(stopBits),
      parity_(parity) {}

TSerialPort::~TSerialPort() {
    Close();
}

int TSerialPort::Baud() const {
    std::lock_guard<std::mutex> lock(settingsLock_);
    return baud_;
}
int TSerialPort::StopBits() const {
    std::lock_guard<std::mutex> lock(settingsLock_);
    return stopBits_;
}

DeviceIdentity IdentifyDevice(const std::string& path, int fd) {
    DeviceIdentity id;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        id.Link = true;
        id.LinkDevice = st.st_dev;
        id.LinkInode = st.st_ino;
        // A new link may get the inode number of the one removed before it: its time tells them apart.
        id.LinkChangedNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    }
    // The slaves of Unix 98 pseudo-terminals have majors 136..143.
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode))
        id.PseudoTerminal = major(st.st_rdev) >= 136 && major(st.st_rdev) < 144;
    return id;
}

bool MayReopen(const DeviceIdentity& opened, const DeviceIdentity& now) {
    if (!opened.PseudoTerminal) return true;
    return opened.Link && now.Link &&
           std::tie(opened.LinkDevice, opened.LinkInode, opened.LinkChangedNs) !=
               std::tie(now.LinkDevice, now.LinkInode, now.LinkChangedNs);
}

bool TSerialPort::Open() {
    released_.store(false, std::memory_order_release);
    std::string failure;
    if (OpenDevice(failure)) return true;
    if (!failure.empty()) boxes_.Show(BoxCaption, failure, BoxIcon::Error);
    return false;
}

bool TSerialPort::Reconnect() {
    if (!lost_.load(std::memory_order_acquire)) return true;
    if (released_.load(std::memory_order_acquire)) return false;
    CloseDevice();
    // Nothing to try while the path is gone (the usual state until the adapter is back).
    if (::access(devicePath_.c_str(), F_OK) != 0) return false;
    DeviceIdentity opened;
    {
        std::lock_guard<std::mutex> settings(settingsLock_);
        opened = opened_;
    }
    // A terminal number taken by another program is not the receiver coming back.
    if (!MayReopen(opened, IdentifyDevice(devicePath_, -1))) return false;
    std::string failure;
    if (!OpenDevice(failure)) {
        CloseDevice();
        return false;
    }
    lost_.store(false, std::memory_order_release);
    return true;
}

bool TSerialPort::OpenDevice(std::string& failure) {
    {
        std::lock_guard<std::mutex> settings(settingsLock_);
        std::unique_lock<std::shared_mutex> lock(fdLock_);
        if (fd_ >= 0 || devicePath_.empty()) return false;

        openFailure_ = 0;
        const int fd = ::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            openFailure_ = errno;
            return false;
        }
        // Exclusive use: the lock keeps out every other opener that asks for one (this process
        // included, root included); the exclusive-mode flag keeps out plain opens by others.
        int held = 0;
#ifdef TIOCGEXCL
        if (ioctl(fd, TIOCGEXCL, &held) != 0) held = 0;
#endif
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || held != 0) {
            openFailure_ = EBUSY;
            ::close(fd);
            return false;
        }
        ioctl(fd, TIOCEXCL);
        fd_ = fd;
        opened_ = IdentifyDevice(devicePath_, fd);

        // Driver queue sizes cannot be requested here: the kernel's buffers are fixed, and line
        // errors never lock the port, so there is nothing to clear either.
        if (tcflush(fd, TCIOFLUSH) != 0) {
            failure = "Setup: PurgeComm";
        } else if (int err = ApplyNewLineSettings(fd, baud_, byteSize_, parity_, stopBits_); err != 0) {
            failure = WithCode("Setup: SetCommState", err);
        } else if (tcflush(fd, TCIFLUSH) != 0) {
            // Bytes that came in between the purge and the new settings were framed at the
            // old rate: they must not reach the parser as if they were data.
            failure = "Setup: PurgeComm";
        } else if (int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); wake < 0) {
            failure = "Setup: CreateEvent";
        } else {
            wakeFd_ = wake;
            ready_.store(true, std::memory_order_release);
        }
    }
    return failure.empty();
}

bool TSerialPort::Close() {
    // A port its owner closed stays closed: no reconnect may open it behind the owner's back.
    released_.store(true, std::memory_order_release);
    return CloseDevice();
}

bool TSerialPort::CloseDevice() {
    // Wake waiting readers and writers first so that they give up the shared lock. The eventfd
    // stays readable until it is closed, so a call that starts meanwhile returns at once too.
    if (int wake = wakeFd_.load(); wake >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake, &one, sizeof one);
    }
    std::unique_lock<std::shared_mutex> lock(fdLock_);
    ready_.store(false, std::memory_order_release);
    bool ok = true;
    if (int fd = fd_.exchange(-1); fd >= 0) {
        ioctl(fd, TIOCNXCL);  // a pseudo-terminal keeps the flag while its other side is open
        ::flock(fd, LOCK_UN);
        // Linux releases the descriptor even when close reports EINTR.
        if (::close(fd) != 0 && errno != EINTR) ok = false;
    }
    if (int wake = wakeFd_.exchange(-1); wake >= 0) {
        if (::close(wake) != 0 && errno != EINTR) ok = false;
    }
    return ok;
}

bool TSerialPort::Reset(int baud, int byteSize, int stopBits, int parity, int) {
    std::string failure;
    {
        std::lock_guard<std::mutex> settings(settingsLock_);
        if (baud != 0) baud_ = baud;
        byteSize_ = byteSize;
        stopBits_ = stopBits;
        parity_ = parity;

        std::shared_lock<std::shared_mutex> lock(fdLock_);
        const int fd = fd_;
        termios t{};
        if (fd < 0) {
            failure = WithCode("Reset: GetCommState", EBADF);
        } else if (tcgetattr(fd, &t) != 0) {
            failure = WithCode("Reset: GetCommState", errno);
        } else if (!SetFrame(t, baud_, byteSize_, parity_, stopBits_) || ApplyFrame(fd, t) != 0) {
            failure = "Reset: SetCommState";
        } else if (tcflush(fd, TCIOFLUSH) != 0) {
            failure = "Reset: PurgeComm";
        }
    }
    // Boxes wait for the user: never show one while holding a lock a reader needs.
    if (!failure.empty()) {
        boxes_.Show(BoxCaption, failure, BoxIcon::Error);
        return false;
    }
    return true;
}

int TSerialPort::txData(const uint8_t* data, int length) {
    std::shared_lock<std::shared_mutex> lock(fdLock_);
    const int fd = fd_;
    const int wake = wakeFd_;
    if (!ready_.load(std::memory_order_acquire) || fd < 0 || (data == nullptr && length > 0)) {
        throw PortWriteError(WriteFailedText);
    }
    // Only terminals get past Open, and a terminal reports a hang-up as EIO, never as SIGPIPE.
    int done = 0;
    bool waited = false;
    while (done < length) {
        const ssize_t n = ::write(fd, data + done, static_cast<size_t>(length - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The driver's queue is full: wait without a limit until it takes more.
            for (;;) {
                pollfd fds[2] = {{fd, POLLOUT, 0}, {wake, POLLIN, 0}};
                if (::poll(fds, 2, -1) < 0) {
                    if (errno == EINTR) continue;
                    throw PortWriteError(WaitFailedText);
                }
                if (fds[1].revents != 0) throw PortWriteError(ResultFailedText);  // closed under us
                if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) throw PortWriteError(WaitFailedText);
                if (fds[0].revents & POLLOUT) break;
            }
            waited = true;
            continue;
        }
        // A failure of the very first write is the write's own; later ones end a write that was
        // under way, which never returns a partial count.
        throw PortWriteError(done == 0 && !waited ? WriteFailedText : ResultFailedText);
    }
    return done;
}

// Reads are synchronous: bytes land only in the buffer of the call that reads them, and no read
// outlives its call, so a caller may reuse or free its buffer as soon as rxData returns.
int TSerialPort::rxData(uint8_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) return 0;
    const int64_t deadline = SystemClock().NowMs() + ReadWaitMs;
    std::shared_lock<std::shared_mutex> lock(fdLock_);
    const int fd = fd_;
    const int wake = wakeFd_;
    if (!ready_.load(std::memory_order_acquire) || fd < 0) return 0;

    int queued = 0;
    if (ioctl(fd, FIONREAD, &queued) != 0) {
        if (errno == EIO || errno == ENODEV || errno == ENXIO) return HungUp(deadline);
        WaitOutReadBudget(deadline);  // a failed device: keep the caller from spinning
        return 0;
    }
    if (queued <= 0) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        for (;;) {
            const int64_t left = std::max<int64_t>(0, deadline - SystemClock().NowMs());
            const int ready = ::poll(fds, 2, static_cast<int>(left));
            if (ready > 0) break;
            if (ready == 0) return 0;
            if (errno != EINTR) {
                WaitOutReadBudget(deadline);
                return 0;
            }
        }
        if (fds[1].revents != 0) return 0;  // Close is waiting for us
        if (!(fds[0].revents & POLLIN)) {
            if (fds[0].revents & (POLLHUP | POLLERR)) return HungUp(deadline);
            WaitOutReadBudget(deadline);
            return 0;
        }
        queued = capacity;
    }
    const ssize_t n = ::read(fd, buffer, static_cast<size_t>(std::min(capacity, queued)));
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;  // purged meanwhile
    if (n == 0 || errno == EIO || errno == ENODEV || errno == ENXIO) return HungUp(deadline);
    WaitOutReadBudget(deadline);
    return 0;
}

int TSerialPort::HungUp(int64_t deadlineMs) {
    lost_.store(true, std::memory_order_release);
    WaitOutReadBudget(deadlineMs);  // keeps the caller from spinning on a dead device
    return 0;
}

void TSerialPort::WaitOutReadBudget(int64_t deadlineMs) const {
    pollfd wake = {wakeFd_, POLLIN, 0};
    for (;;) {
        const int64_t left = deadlineMs - SystemClock().NowMs();
        if (left <= 0) return;
        const int ready = ::poll(&wake, 1, static_cast<int>(left));
        if (ready != 0 && !(ready < 0 && errno == EINTR)) return;
    }
}

}  // namespace vantora
