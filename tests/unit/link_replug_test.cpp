// An adapter unplugged and plugged in again under a running view: the loss and the return are
// shown, the raw log stays open, and what arrives after the replug goes on in the same file.
#include <condition_variable>
#include <mutex>

#include "tests/support/sim_process.h"
#include "view/view_task.h"

namespace vantora {
namespace {

using namespace test;
using namespace std::chrono_literals;

class LinkDisplay : public NullViewDisplay {
public:
    void ShowMessage(const std::string&) override { Note([&] { ++messages_; }); }
    void ShowLinkState(bool present, const std::string& device) override {
        Note([&] {
            states_.push_back(present);
            device_ = device;
            if (present) messagesAtReturn_ = messages_;
        });
    }
    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, done);
    }
    std::vector<bool> states_;
    std::string device_;
    int messages_ = 0;
    int messagesAtReturn_ = -1;

private:
    void Note(const std::function<void()>& change) {
        std::lock_guard lock(mutex_);
        change();
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
};

struct NoBoxes : MessageBoxSink {
    void Show(const std::string&, const std::string&, BoxIcon) override {}
};

TEST(LinkReplug, TheViewFollowsTheAdapterAndTheLogGoesOn) {
    TempDir dir("vantora-replug");
    SimProcess sim(dir.Path("tty"), {"--fault", "hangup", "--fault-every", "40", "--baud", "38400"});
    ASSERT_TRUE(sim.Running());
    NoBoxes boxes;
    CurrentPort slot;
    auto port = std::make_shared<TSerialPort>(0, 38400, 8, 0, 0, 2, 4096, 4096, sim.Link(), boxes);
    ASSERT_TRUE(port->Open());
    slot.Set(port);
    LinkDisplay display;
    InlineRunner runner;
    ReceiverTables tables{};
    TViewTask task(slot, display, runner, tables);
    RawLog log;
    std::string error;
    ASSERT_TRUE(log.Open(dir.Path("raw.log"), error)) << error;
    task.StartLog(std::move(log));
    task.SetActive(true);

    // Gone, back (the simulator replugs after 3 s), and sentences after the return.
    ASSERT_TRUE(display.WaitFor(
        [&] { return display.states_.size() >= 2 && display.messages_ > display.messagesAtReturn_ + 5; }, 15s));
    ASSERT_GE(display.states_.size(), 2u);
    EXPECT_EQ(display.states_[0], false);
    EXPECT_EQ(display.states_[1], true);
    EXPECT_EQ(display.device_, sim.Link());
    EXPECT_TRUE(task.LogOpen());
    // Sending works again once the device is back.
    EXPECT_NO_THROW(port->txData(reinterpret_cast<const uint8_t*>("\r\n"), 2));

    task.StopLog();
    for (int i = 0; i < 300 && task.LogOpen(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_FALSE(task.LogOpen());
    task.Stop();
    slot.Release();
    // One file with whole sentences from both sides of the replug.
    const std::string logged = Slurp(dir.Path("raw.log"));
    size_t sentences = 0;
    for (size_t at = logged.find("$GP"); at != std::string::npos; at = logged.find("$GP", at + 1)) ++sentences;
    // Every memo line came from logged bytes, those after the return included.
    EXPECT_GE(sentences, static_cast<size_t>(display.messagesAtReturn_ + 6)) << "the log did not go on after the replug";
}

}  // namespace
}  // namespace vantora
