// An adapter unplugged and plugged in again under a running view: the loss and the return are
// shown, the raw log stays open, and what arrives after the replug goes on in the same file.
#include "tests/support/sim_process.h"
#include "tests/support/view_recorder.h"
#include "view/view_task.h"

namespace vantora {
namespace {

using namespace test;

// Records the link's states too, and how many sentences were shown when it came back.
class LinkDisplay : public Recorder {
public:
    void ShowLinkState(bool present, const std::string& device) override {
        Add([&] {
            states.push_back(present);
            this->device = device;
            if (present) messagesAtReturn = static_cast<int>(messages.size());
        });
    }
    std::vector<bool> states;
    std::string device;
    int messagesAtReturn = -1;
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
    ASSERT_TRUE(display.WaitFor([&] {
        return display.states.size() >= 2 && static_cast<int>(display.messages.size()) > display.messagesAtReturn + 5;
    }, 15s));
    EXPECT_EQ(std::tuple(display.states[0], display.states[1]), std::tuple(false, true));
    EXPECT_TRUE(display.device == sim.Link() && task.LogOpen()) << display.device;
    // Sending works again once the device is back.
    EXPECT_NO_THROW(port->txData(reinterpret_cast<const uint8_t*>("\r\n"), 2));

    task.StopLog();
    ASSERT_TRUE(Eventually([&] { return !task.LogOpen(); }));
    task.Stop();
    slot.Release();
    // One file with whole sentences from both sides of the replug.
    const std::string logged = Slurp(dir.Path("raw.log"));
    size_t sentences = 0;
    for (size_t at = logged.find("$GP"); at != std::string::npos; at = logged.find("$GP", at + 1)) ++sentences;
    // Every memo line came from logged bytes, those after the return included.
    EXPECT_GE(sentences, static_cast<size_t>(display.messagesAtReturn + 6)) << "the log did not go on after the replug";
}

}  // namespace
}  // namespace vantora
