// The vantora-sim program end to end: through its pseudo-terminal, as the viewer sees it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "protocol/binary.h"
#include "protocol/frame.h"
#include "protocol/nmea.h"
#include "tests/support/sim_process.h"

using namespace vantora;

namespace {

class AckRecorder : public NullReplyDisplay {
public:
    void ShowAck(uint8_t c) override { Acks.push_back(c); }
    std::vector<uint8_t> Acks;
};

// Runs vantora-sim with a link in a fresh folder, its output kept; stops it at the end of the test.
class Sim : public test::TempDir, public test::SimProcess {
public:
    explicit Sim(std::vector<std::string> extra)
        : TempDir("vantora-sim"), SimProcess(Path("gps"), WithStartTime(std::move(extra)), Path("out")) {}
    // The first line the program prints: the terminal's path.
    std::string FirstLine() const {
        for (int i = 0; i < 250; ++i) {
            const std::string out = test::Slurp(Path("out"));
            if (const size_t end = out.find('\n'); end != std::string::npos) return out.substr(0, end);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return "";
    }

private:
    static std::vector<std::string> WithStartTime(std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"--start-time", "1715932800"});
        return extra;
    }
};

int OpenAt(const std::string& path, speed_t speed) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tcsetattr(fd, TCSANOW, &tio);
    tcflush(fd, TCIOFLUSH);
    return fd;
}

void SetSpeed(int fd, speed_t speed) {
    termios tio{};
    tcgetattr(fd, &tio);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tcsetattr(fd, TCSANOW, &tio);
}

// Everything that arrives within ms milliseconds.
std::string ReadFor(int fd, int ms) {
    std::string all;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) > 0) {
            char buf[1024];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) all.append(buf, static_cast<size_t>(n));
            if (n == 0 || (n < 0 && errno != EAGAIN)) break;
        }
    }
    return all;
}

}  // namespace

TEST(SimPty, SpeaksNmeaAtItsRateAndNothingAtAnother) {
    Sim sim({});
    std::string path = sim.FirstLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    char target[256] = {};
    for (int i = 0; i < 100 && readlink(sim.Link().c_str(), target, sizeof target - 1) < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(path, target);

    int fd = OpenAt(sim.Link(), B4800);
    ASSERT_GE(fd, 0);
    std::string got = ReadFor(fd, 2200);
    TNmea nmea;
    int accepted = 0;
    for (size_t at = 0; at < got.size();) {
        int result = 0;
        int used = nmea.Parse(reinterpret_cast<const uint8_t*>(got.data()) + at,
                              static_cast<int>(got.size() - at), result);
        if (used <= 0) break;
        at += used;
        accepted += result == 1;
    }
    EXPECT_GE(accepted, 4) << got;
    EXPECT_GT(nmea.SentenceCount(KindGga), 0);
    EXPECT_EQ(nmea.Record().Year, 2024);

    // A command goes the other way and is answered.
    const uint8_t query[] = {0x25, 0x25, 0xF1, 0x17, 0x00, 0xE6, 0x0D, 0x0A};
    ASSERT_EQ(write(fd, query, sizeof query), static_cast<ssize_t>(sizeof query));
    std::string reply = ReadFor(fd, 500);
    AckRecorder display;
    ReceiverTables tables{};
    TBinary binary(display, tables);
    size_t pct = reply.find("%%");
    while (pct != std::string::npos) {
        int ended = 0;
        int used = binary.Parse(reinterpret_cast<const uint8_t*>(reply.data()) + pct,
                                static_cast<int>(reply.size() - pct), ended);
        pct = reply.find("%%", pct + std::max(used, 1));
    }
    EXPECT_EQ(display.Acks, std::vector<uint8_t>{0x17});

    // At another rate the receiver neither talks nor listens.
    SetSpeed(fd, B9600);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the receiver looks every 10 ms
    tcflush(fd, TCIOFLUSH);
    EXPECT_EQ(ReadFor(fd, 1500), "");
    close(fd);

    EXPECT_EQ(sim.Stop(), 0);
    struct stat st {};
    EXPECT_NE(lstat(sim.Link().c_str(), &st), 0) << "the link is removed at exit";
}

TEST(SimPty, HangsUpLikeAnUnpluggedAdapter) {
    Sim sim({"--hangup-after", "1"});
    ASSERT_FALSE(sim.FirstLine().empty());
    int fd = OpenAt(sim.Link(), B4800);
    ASSERT_GE(fd, 0);
    ReadFor(fd, 2500);  // ends early when the line drops
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 0), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    EXPECT_EQ(sim.Wait(2000), 0);
    close(fd);
}
