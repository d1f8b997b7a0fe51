#include "serial/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/box_recorder.h"
#include "tests/support/sim_process.h"

namespace vantora {
namespace {

using namespace test;
using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;

// What a write's failure says; empty when it wrote everything.
std::string WriteFailure(TSerialPort& port, const Bytes& bytes) {
    try {
        port.txData(bytes.data(), static_cast<int>(bytes.size()));
    } catch (const PortWriteError& e) {
        return e.what();
    }
    return "";
}

// A pseudo-terminal playing the receiver; boxes come only from Open and Reset, which the tests
// call on their own thread.
class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.Ok()); }
    TSerialPort Port(int baud = 9600) { return TSerialPort(0, baud, 8, 0, 0, 2, 4096, 4096, pty.path, boxes); }
    Pty pty;
    BoxRecorder boxes;
};

// Collects count bytes through rxData (bounded number of calls), each call within capacity.
Bytes ReadPort(TSerialPort& port, size_t count, int capacity = 2048) {
    Bytes out;
    Bytes buf(capacity);
    for (int i = 0; i < 100 && out.size() < count; ++i) {
        const int n = port.rxData(buf.data(), capacity);
        EXPECT_LE(n, capacity);
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
    return out;
}

TEST_F(SerialPortTest, OpenDropsWhatCameInBeforeSetsRawLineAndPassesEveryByte) {
    termios old{};
    ASSERT_EQ(tcgetattr(pty.observer, &old), 0);
    cfmakeraw(&old);
    cfsetspeed(&old, B4800);
    ASSERT_EQ(tcsetattr(pty.observer, TCSANOW, &old), 0);
    pty.Write(Pattern(50));  // framed at the rate the line had before: never data
    ASSERT_EQ(pty.WaitQueued(50), 50);
    TSerialPort port(3, 38400, 8, 0, 0, 2, 4096, 4096, pty.path, boxes);
    EXPECT_FALSE(port.IsOpen());
    ASSERT_TRUE(port.Open());
    EXPECT_TRUE(port.IsOpen());

    const termios t = pty.Settings();
    EXPECT_EQ(std::tuple(cfgetospeed(&t), cfgetispeed(&t)), std::tuple(B38400, B38400));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD), CS8 | CLOCAL | CREAD);
    EXPECT_EQ(t.c_cc[VMIN] + t.c_cc[VTIME], 0);

    // Raw both ways: XON/XOFF, CR, LF, NUL, DEL and the interrupt characters arrive untouched, unechoed.
    Bytes bytes = {'$', 0x11, 0x13, '\r', '\n', 0x00, 0x03, 0x1A, 0x7F, 0xFF, '%', '%'};
    const Bytes more = Pattern(300);
    bytes.insert(bytes.end(), more.begin(), more.end());
    pty.Write(bytes);
    EXPECT_EQ(ReadPort(port, bytes.size()), bytes);
    EXPECT_EQ(port.txData(bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
    EXPECT_EQ(pty.Read(bytes.size()), bytes);

    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.Close());  // twice is harmless
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SerialPortTest, ResetChangesLineKeepsRateOnZeroAndPurges) {
    TSerialPort port = Port(9600);
    ASSERT_TRUE(port.Open());
    // baud, stop bits, the line's speed; a rate of 0 keeps the rate, one and a half stop bits are two.
    const std::tuple<int, int, speed_t> steps[] = {{115200, 0, B115200}, {4800, 2, B4800}, {0, 1, B4800}};
    for (const auto& [baud, stopBits, speed] : steps) {
        SCOPED_TRACE(baud);
        // Whatever was received before the reset is dropped.
        pty.Write(Pattern(100));
        ASSERT_EQ(pty.WaitQueued(100), 100);
        ASSERT_TRUE(port.Reset(baud, 8, stopBits, 0, 2));
        const termios t = pty.Settings();
        EXPECT_EQ(cfgetospeed(&t), speed);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, stopBits != 0);
        EXPECT_EQ(t.c_cflag & CSIZE, CS8);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);  // Open's settings other than the frame stay
        EXPECT_EQ(pty.WaitQueued(0), 0);
        uint8_t buf[2048];
        EXPECT_EQ(port.rxData(buf, sizeof buf), 0);
    }
    EXPECT_EQ(std::tuple(port.Baud(), port.StopBits()), std::tuple(4800, 1));
    EXPECT_TRUE(boxes.shown.empty());

    // A rate the terminal cannot take is refused with the box; the device keeps its rate.
    EXPECT_FALSE(port.Reset(12345, 8, 0, 0, 2));
    const termios t = pty.Settings();
    EXPECT_EQ(cfgetospeed(&t), B4800);
    // Reset on a closed port cannot read the line settings.
    port.Close();
    EXPECT_FALSE(port.Reset(9600, 8, 0, 0, 2));
    EXPECT_EQ(boxes.shown, (Texts{"Error|Reset: SetCommState|error",
                                  "Error|Reset: GetCommState " + std::to_string(EBADF) + "|error"}));
}

// A missing device fails without a box, a failed setup step with its box; either way the port reads
// nothing, refuses writes and, once closed, leaves the device to the next opener.
TEST_F(SerialPortTest, FailedOpenShowsItsBoxAndLeavesDeviceToClose) {
    const std::string invalid = "Error|Setup: SetCommState " + std::to_string(EINVAL) + "|error";
    const std::tuple<std::string, int, int, int, int, std::string> cases[] = {  // path, frame, box
        {"/dev/nonexistent-vantora-port", 9600, 8, 0, 0, ""},
        {"", 9600, 8, 0, 0, ""},
        {pty.path, 12345, 8, 0, 0, invalid},
        {pty.path, 9600, 9, 0, 0, invalid},
        {pty.path, 9600, 8, 3, 0, invalid},
        {pty.path, 9600, 8, 0, 5, invalid},
        // A pseudo-terminal always runs 8 bits; it accepts 7 and shows what it took only when read back.
        {pty.path, 9600, 7, 0, 0, invalid},
        {"/dev/null", 9600, 8, 0, 0, "Error|Setup: PurgeComm|error"},  // not a terminal
    };
    for (const auto& [path, baud, byteSize, stopBits, parity, box] : cases) {
        SCOPED_TRACE(path + " " + std::to_string(baud));
        boxes.shown.clear();
        TSerialPort port(0, baud, byteSize, stopBits, parity, 2, 4096, 4096, path, boxes);
        EXPECT_FALSE(port.Open() || port.IsOpen());
        EXPECT_EQ(boxes.shown, box.empty() ? Texts{} : Texts{box});
        uint8_t b[4] = {1, 2, 3, 4};
        EXPECT_EQ(port.rxData(b, 4), 0);
        EXPECT_EQ(WriteFailure(port, {1, 2, 3, 4}), "WriteFile Failed 1.");
        EXPECT_TRUE(port.Close());
        EXPECT_TRUE(path != pty.path || Port().Open());  // the device was released
    }
    // Held by another port object (a lock on the device, as another program would hold it).
    boxes.shown.clear();
    TSerialPort holder = Port();
    ASSERT_TRUE(holder.Open());
    TSerialPort second = Port();
    EXPECT_FALSE(second.Open());
    EXPECT_TRUE(second.Close());
    EXPECT_FALSE(holder.Open());  // already open: nothing changes
    EXPECT_TRUE(holder.IsOpen());
    EXPECT_TRUE(holder.Close() && second.Open() && second.Close());
    // A program that set the device's exclusive mode holds it as well.
    ASSERT_EQ(ioctl(pty.observer, TIOCEXCL), 0);
    EXPECT_FALSE(second.Open());
    ASSERT_EQ(ioctl(pty.observer, TIOCNXCL), 0);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SerialPortTest, ReadsAtMostCapacityAndWaitsBriefly) {
    TSerialPort port = Port(115200);
    ASSERT_TRUE(port.Open());
    uint8_t buf[2048];
    const int64_t start = SystemClock().NowMs();
    EXPECT_EQ(port.rxData(buf, sizeof buf), 0);
    EXPECT_LT(SystemClock().NowMs() - start, 1000);
    EXPECT_EQ(std::tuple(port.rxData(nullptr, 10), port.rxData(buf, 0), port.rxData(buf, -5)), std::tuple(0, 0, 0));

    // 5000 bytes queued, capacity 2048: a full buffer first, the rest on the next calls.
    const Bytes sent = Pattern(5000);
    pty.Write(sent);
    ASSERT_GE(pty.WaitQueued(2048), 2048);
    EXPECT_EQ(port.rxData(buf, sizeof buf), 2048);
    Bytes got(buf, buf + 2048);
    const Bytes rest = ReadPort(port, sent.size() - 2048);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, sent);

    // Data that arrives during the wait is returned by it, not missed by a caller that polls.
    std::thread late([&] { usleep(10000), pty.Write({'$', 'G'}); });
    const Bytes early = ReadPort(port, 2);
    late.join();
    EXPECT_EQ(early, (Bytes{'$', 'G'}));
}

TEST_F(SerialPortTest, HangUpReadsZeroAndWritesThrow) {
    TSerialPort port = Port();
    ASSERT_TRUE(port.Open());
    pty.Write({'a', 'b'});
    ASSERT_EQ(pty.WaitQueued(2), 2);
    pty.CloseMaster();  // the receiver is unplugged

    uint8_t buf[2048];
    const int64_t start = SystemClock().NowMs();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(port.rxData(buf, sizeof buf), 0);
    // Each call still takes its wait, so a polling caller does not spin.
    EXPECT_GE(SystemClock().NowMs() - start, 4 * ReadWaitMs - 20);

    const std::string text = WriteFailure(port, {'%', '%', 0xF1, 0x17, 0x17, '\r', '\n'});
    EXPECT_TRUE(text == WriteFailedText || text == WaitFailedText || text == ResultFailedText) << text;
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(port.Close());
}

// After a loss, a pseudo-terminal's number may already be another program's: only an adapter's
// name, or a link made anew, is opened again.
TEST_F(SerialPortTest, ALostPortReopensOnlyWhatCameBack) {
    TempDir dir("vantora-reopen");
    const std::string link = dir.Path("tty");
    std::string error;
    ASSERT_TRUE(sim::PointLink(link, pty.path, error)) << error;
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const DeviceIdentity adapter = IdentifyDevice("/dev/null", null), direct = IdentifyDevice(pty.path, pty.observer),
                         linked = IdentifyDevice(link, pty.observer), sameLink = IdentifyDevice(link, -1);
    ::close(null);
    ASSERT_TRUE(sim::PointLink(link, pty.path, error)) << error;
    const DeviceIdentity newLink = IdentifyDevice(link, -1);
    fs::remove(link);
    const DeviceIdentity noLink = IdentifyDevice(link, -1);
    EXPECT_TRUE(direct.PseudoTerminal && linked.PseudoTerminal && linked.Link && !adapter.PseudoTerminal);
    const struct {
        const char* Case;
        DeviceIdentity Opened, Now;
        bool Reopen;
    } cases[] = {
        {"adapter", adapter, adapter, true},
        {"terminal by its number", direct, direct, false},
        {"the same link", linked, sameLink, false},
        {"a link made anew", linked, newLink, true},
        {"the link gone", linked, noLink, false},
    };
    for (const auto& c : cases) EXPECT_EQ(MayReopen(c.Opened, c.Now), c.Reopen) << c.Case;
}

TEST_F(SerialPortTest, CloseAndResetUnderRunningReaderAndWriter) {
    TSerialPort port = Port();
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
    std::thread writer([&] { writeError = WriteFailure(port, Bytes(1 << 20, 0x55)); });
    for (int i = 0; i < 5; ++i) {
        pty.Write(Pattern(64));
        usleep(20000);
        EXPECT_TRUE(port.Reset(i % 2 ? 0 : 4800, 8, 0, 0, 2));
    }
    const int64_t start = SystemClock().NowMs();
    EXPECT_TRUE(port.Close());
    EXPECT_LT(SystemClock().NowMs() - start, 1000);  // the waits were woken, not waited out
    writer.join();
    readerDone = true;
    reader.join();
    EXPECT_TRUE(writeError == ResultFailedText || writeError == WriteFailedText) << writeError;
    EXPECT_LE(readBytes.load(), 5 * 64);
    EXPECT_TRUE(boxes.shown.empty());
}

}  // namespace
}  // namespace vantora
