#include "serial/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantora {
namespace {

struct Box {
    std::string title, text;
    BoxIcon icon;
};

class BoxRecorder : public MessageBoxSink {
  public:
    void Show(const std::string& title, const std::string& text, BoxIcon icon) override {
        std::lock_guard<std::mutex> lock(m_);
        boxes_.push_back({title, text, icon});
    }
    std::vector<Box> Boxes() {
        std::lock_guard<std::mutex> lock(m_);
        return boxes_;
    }
    std::vector<std::string> Texts() {
        std::vector<std::string> out;
        for (const Box& b : Boxes()) out.push_back(b.text);
        return out;
    }

  private:
    std::mutex m_;
    std::vector<Box> boxes_;
};

int64_t NowMs() {
    return SystemClock().NowMs();
}

// A pseudo-terminal: the port opens the slave by path, the test plays the receiver on the master.
// Termios requests on the master act on the slave, so the master also shows the port's settings.
// observer is a plain extra descriptor of the slave for looking at its receive queue.
class Pty {
  public:
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        path = ptsname(master);
        observer = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    ~Pty() {
        CloseMaster();
        if (observer >= 0) close(observer);
    }
    bool Ok() const { return master >= 0 && observer >= 0; }
    void CloseMaster() {
        if (master >= 0) close(master);
        master = -1;
    }
    void Write(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += n;
            } else {
                pollfd p{master, POLLOUT, 0};
                ASSERT_GT(poll(&p, 1, 2000), 0);
            }
        }
    }
    // Reads from the master until count bytes came or two seconds passed.
    std::vector<uint8_t> Read(size_t count) {
        std::vector<uint8_t> out;
        const int64_t end = NowMs() + 2000;
        while (out.size() < count && NowMs() < end) {
            uint8_t buf[4096];
            ssize_t n = read(master, buf, std::min(sizeof buf, count - out.size()));
            if (n > 0) {
                out.insert(out.end(), buf, buf + n);
            } else {
                pollfd p{master, POLLIN, 0};
                poll(&p, 1, 50);
            }
        }
        return out;
    }
    // Waits until the slave's receive queue holds at least count bytes; returns what it holds.
    int WaitQueued(int count) {
        int queued = 0;
        for (const int64_t end = NowMs() + 2000; NowMs() < end; usleep(2000)) {
            if (ioctl(observer, FIONREAD, &queued) != 0) return -1;
            if (queued >= count) break;
        }
        return queued;
    }
    termios Settings() const {
        termios t{};
        EXPECT_EQ(tcgetattr(master, &t), 0);
        return t;
    }
    speed_t Speed() const {
        termios t = Settings();
        return cfgetospeed(&t);
    }

    int master = -1;
    int observer = -1;
    std::string path;
};

TSerialPort MakePort(const std::string& path, BoxRecorder& boxes, int baud = 9600) {
    return TSerialPort(0, baud, 8, 0, 0, 2, 4096, 4096, path, boxes);
}

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return v;
}

// Collects count bytes through rxData (bounded number of calls).
std::vector<uint8_t> ReadPort(TSerialPort& port, size_t count, int capacity = 2048) {
    std::vector<uint8_t> out;
    std::vector<uint8_t> buf(capacity);
    for (int i = 0; i < 100 && out.size() < count; ++i) {
        int n = port.rxData(buf.data(), capacity);
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
    return out;
}

TEST(SerialPort, OpenSetsRawLineAndPassesEveryByte) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    BoxRecorder boxes;
    TSerialPort port(3, 38400, 8, 0, 0, 2, 4096, 4096, pty.path, boxes);
    EXPECT_FALSE(port.IsOpen());
    ASSERT_TRUE(port.Open());
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(port.PortIndex(), 3);
    EXPECT_EQ(port.DevicePath(), pty.path);

    termios t = pty.Settings();
    EXPECT_EQ(cfgetospeed(&t), B38400);
    EXPECT_EQ(cfgetispeed(&t), B38400);
    EXPECT_EQ(t.c_cflag & CSIZE, CS8);
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | INPCK | ISTRIP | ICRNL | INLCR | IGNCR | PARMRK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    // XON/XOFF, CR, LF, NUL, DEL and the interrupt characters must arrive untouched both ways.
    std::vector<uint8_t> bytes = {'$', 0x11, 0x13, '\r', '\n', 0x00, 0x03, 0x1A, 0x7F, 0xFF, '%', '%'};
    std::vector<uint8_t> more = Pattern(300);
    bytes.insert(bytes.end(), more.begin(), more.end());
    pty.Write(bytes);
    EXPECT_EQ(ReadPort(port, bytes.size()), bytes);
    EXPECT_EQ(port.txData(bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
    EXPECT_EQ(pty.Read(bytes.size()), bytes);
    EXPECT_EQ(port.txData(bytes.data(), 0), 0);

    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.Close());  // twice is harmless
}

TEST(SerialPort, ResetChangesLineKeepsRateOnZeroAndPurges) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    BoxRecorder boxes;
    TSerialPort port = MakePort(pty.path, boxes, 9600);
    ASSERT_TRUE(port.Open());
    EXPECT_EQ(pty.Speed(), B9600);

    struct Step {
        int baud, stopBits;
        speed_t expectSpeed;
        bool twoStops;
    };
    const Step steps[] = {
        {115200, 0, B115200, false},  // loader rate
        {0, 0, B115200, false},       // 0 keeps it
        {4800, 2, B4800, true},      {19200, 0, B19200, false},
        {0, 1, B19200, true},  // one and a half is two on a terminal
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.baud);
        // Whatever was received before the reset is dropped.
        pty.Write(Pattern(100));
        ASSERT_EQ(pty.WaitQueued(100), 100);
        ASSERT_TRUE(port.Reset(s.baud, 8, s.stopBits, 0, 2));
        termios t = pty.Settings();
        EXPECT_EQ(cfgetospeed(&t), s.expectSpeed);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, s.twoStops);
        EXPECT_EQ(t.c_cflag & CSIZE, CS8);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);  // Open's settings other than the frame stay
        EXPECT_EQ(pty.WaitQueued(0), 0);
        uint8_t buf[2048];
        EXPECT_EQ(port.rxData(buf, sizeof buf), 0);
    }
    EXPECT_EQ(port.Baud(), 19200);
    EXPECT_EQ(port.StopBits(), 1);
    EXPECT_TRUE(boxes.Boxes().empty());

    // A rate the terminal cannot take is refused with the box; the device keeps its rate.
    EXPECT_FALSE(port.Reset(12345, 8, 0, 0, 2));
    EXPECT_EQ(pty.Speed(), B19200);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].title, "Error");
    EXPECT_EQ(boxes.Boxes()[0].text, "Reset: SetCommState");
    EXPECT_EQ(boxes.Boxes()[0].icon, BoxIcon::Error);

    // Reset on a closed port cannot read the line settings.
    port.Close();
    EXPECT_FALSE(port.Reset(9600, 8, 0, 0, 2));
    EXPECT_EQ(boxes.Texts().back(), "Reset: GetCommState " + std::to_string(EBADF));
}

TEST(SerialPort, UnavailableDeviceFailsWithoutBox) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    BoxRecorder boxes;
    {
        TSerialPort never = MakePort(pty.path, boxes);
        EXPECT_TRUE(never.Close());
        uint8_t b[4] = {1, 2, 3, 4};
        EXPECT_EQ(never.rxData(b, 4), 0);
        try {
            never.txData(b, 4);
            ADD_FAILURE() << "no exception";
        } catch (const PortWriteError& e) {
            EXPECT_STREQ(e.what(), "WriteFile Failed 1.");
        }
    }
    for (const char* path : {"/dev/nonexistent-vantora-port", ""}) {
        TSerialPort missing = MakePort(path, boxes);
        EXPECT_FALSE(missing.Open()) << path;
        EXPECT_TRUE(missing.Close());
    }

    TSerialPort holder = MakePort(pty.path, boxes);
    ASSERT_TRUE(holder.Open());
    TSerialPort second = MakePort(pty.path, boxes);
    EXPECT_FALSE(second.Open());
    EXPECT_TRUE(second.Close());
    EXPECT_FALSE(holder.Open());  // already open: nothing changes
    EXPECT_TRUE(holder.IsOpen());

    // Another process cannot take it either.
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        BoxRecorder childBoxes;
        TSerialPort other = MakePort(pty.path, childBoxes);
        _exit(!other.Open() && childBoxes.Boxes().empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // Closing gives the device back.
    EXPECT_TRUE(holder.Close());
    TSerialPort third = MakePort(pty.path, boxes);
    EXPECT_TRUE(third.Open());
    EXPECT_TRUE(third.Close());

    // A program that set the device's exclusive mode holds it as well.
    ASSERT_EQ(ioctl(pty.observer, TIOCEXCL), 0);
    TSerialPort blocked = MakePort(pty.path, boxes);
    EXPECT_FALSE(blocked.Open());
    ASSERT_EQ(ioctl(pty.observer, TIOCNXCL), 0);

    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(SerialPort, FailedSetupStepShowsItsBoxAndLeavesDeviceToClose) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    struct Case {
        std::string path;
        int baud, byteSize, stopBits, parity;
        std::string box;
    };
    const std::string invalid = "Setup: SetCommState " + std::to_string(EINVAL);
    const Case cases[] = {
        {pty.path, 12345, 8, 0, 0, invalid},
        {pty.path, 0, 8, 0, 0, invalid},
        {pty.path, 9600, 9, 0, 0, invalid},
        {pty.path, 9600, 8, 3, 0, invalid},
        {pty.path, 9600, 8, 0, 5, invalid},
        // A pseudo-terminal always runs 8 bits without parity; it accepts other requests and
        // shows what it really took only when read back.
        {pty.path, 9600, 8, 0, 1, invalid},
        {pty.path, 9600, 7, 0, 0, invalid},
        {"/dev/null", 9600, 8, 0, 0, "Setup: PurgeComm"},  // not a terminal
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.baud));
        BoxRecorder boxes;
        TSerialPort port(0, c.baud, c.byteSize, c.stopBits, c.parity, 2, 4096, 4096, c.path, boxes);
        EXPECT_FALSE(port.Open());
        EXPECT_FALSE(port.IsOpen());
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].title, "Error");
        EXPECT_EQ(boxes.Boxes()[0].text, c.box);
        EXPECT_EQ(boxes.Boxes()[0].icon, BoxIcon::Error);
        uint8_t b[8];
        EXPECT_EQ(port.rxData(b, 8), 0);
        EXPECT_THROW(port.txData(b, 8), PortWriteError);
        EXPECT_TRUE(port.Close());
        // The device was released: a correct port opens it.
        if (c.path == pty.path) {
            TSerialPort good = MakePort(c.path, boxes);
            EXPECT_TRUE(good.Open());
        }
    }
}

TEST(SerialPort, ReadsAtMostCapacityAndWaitsBriefly) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    BoxRecorder boxes;
    TSerialPort port = MakePort(pty.path, boxes, 115200);
    ASSERT_TRUE(port.Open());
    uint8_t buf[2048];

    // Nothing queued: 0 after a short wait.
    for (int i = 0; i < 3; ++i) {
        int64_t start = NowMs();
        EXPECT_EQ(port.rxData(buf, sizeof buf), 0);
        EXPECT_LT(NowMs() - start, 1000);
    }
    EXPECT_EQ(port.rxData(nullptr, 10), 0);
    EXPECT_EQ(port.rxData(buf, 0), 0);
    EXPECT_EQ(port.rxData(buf, -5), 0);

    // 5000 bytes queued, capacity 2048: a full buffer first, the rest on the next calls.
    const std::vector<uint8_t> sent = Pattern(5000);
    pty.Write(sent);
    ASSERT_GE(pty.WaitQueued(2048), 2048);
    EXPECT_EQ(port.rxData(buf, sizeof buf), 2048);
    std::vector<uint8_t> got(buf, buf + 2048);
    for (int i = 0; i < 100 && got.size() < sent.size(); ++i) {
        int n = port.rxData(buf, sizeof buf);
        EXPECT_LE(n, 2048);
        got.insert(got.end(), buf, buf + n);
    }
    EXPECT_EQ(got, sent);

    // A small capacity is respected too.
    pty.Write({1, 2, 3, 4, 5});
    ASSERT_EQ(pty.WaitQueued(5), 5);
    EXPECT_EQ(port.rxData(buf, 2), 2);
    EXPECT_EQ(port.rxData(buf, 10), 3);
    EXPECT_EQ(buf[0], 3);

    // Data that arrives during the wait is returned by that same call.
    std::thread late([&] {
        usleep(10000);
        pty.Write({'$', 'G'});
    });
    std::vector<uint8_t> early = ReadPort(port, 2);
    late.join();
    EXPECT_EQ(early, (std::vector<uint8_t>{'$', 'G'}));
}

TEST(SerialPort, HangUpReadsZeroAndWritesThrow) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    BoxRecorder boxes;
    TSerialPort port = MakePort(pty.path, boxes);
    ASSERT_TRUE(port.Open());
    pty.Write({'a', 'b'});
    ASSERT_EQ(pty.WaitQueued(2), 2);
    pty.CloseMaster();  // the receiver is unplugged

    uint8_t buf[2048];
    const int64_t start = NowMs();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(port.rxData(buf, sizeof buf), 0);
    // Each call still takes its wait, so a polling caller does not spin.
    EXPECT_GE(NowMs() - start, 4 * ReadWaitMs - 20);

    const uint8_t frame[] = {'%', '%', 0xF1, 0x17, 0x17, '\r', '\n'};
    try {
        port.txData(frame, sizeof frame);
        ADD_FAILURE() << "no exception";
    } catch (const PortWriteError& e) {
        const std::string text = e.what();
        EXPECT_TRUE(text == "WriteFile Failed 1." || text == "WaitForSingleObject failed." ||
                    text == "GetOverlappedResult failed.")
            << text;
    }
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_TRUE(port.Close());
}

TEST(SerialPort, CloseAndResetUnderRunningReaderAndWriter) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    BoxRecorder boxes;
    TSerialPort port = MakePort(pty.path, boxes);
    ASSERT_TRUE(port.Open());

    std::atomic<bool> readerDone{false};
    std::atomic<int> readBytes{0};
    std::thread reader([&] {
        uint8_t buf[2048];
        // Keeps reading after Close too: a closed port reads as 0.
        for (int i = 0; i < 400 && !readerDone; ++i) readBytes += port.rxData(buf, sizeof buf);
    });
    // Nobody drains the master, so this write fills the device's queues and waits.
    std::string writeError;
    std::thread writer([&] {
        std::vector<uint8_t> big(1 << 20, 0x55);
        try {
            port.txData(big.data(), static_cast<int>(big.size()));
        } catch (const PortWriteError& e) {
            writeError = e.what();
        }
    });

    for (int i = 0; i < 5; ++i) {
        pty.Write(Pattern(64));
        usleep(20000);
        EXPECT_TRUE(port.Reset(i % 2 ? 0 : 4800, 8, 0, 0, 2));
    }
    const int64_t start = NowMs();
    EXPECT_TRUE(port.Close());
    EXPECT_LT(NowMs() - start, 1000);  // the waits were woken, not waited out
    writer.join();
    readerDone = true;
    reader.join();
    EXPECT_TRUE(writeError == "GetOverlappedResult failed." || writeError == "WriteFile Failed 1.")
        << writeError;
    EXPECT_LE(readBytes.load(), 5 * 64);
    EXPECT_TRUE(boxes.Boxes().empty());
}

}  // namespace
}  // namespace vantora
