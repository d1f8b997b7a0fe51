// The Reload page against the real simulated receiver on a pseudo-terminal: choosing the image,
// Write, the loader's states and the page lock, the result, Auto Load and factory default.
// Runs offscreen; boxes are recorded and the file dialog is replaced, so nothing waits.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <fstream>
#include <string>
#include <vector>

#include "app/top_window.h"
#include "app/command_panels.h"
#include "app/reload_page.h"
#include "app/trace_page.h"
#include "app/view_widgets.h"
#include "tests/support/gui_rig.h"
#include "tests/support/loader_recorder.h"

namespace vantora {
namespace {

using namespace test;

class ReloadTest : public GuiRig {
protected:
    // A simulator and a window on its Reload page, recording every state shown and every load's end;
    // the simulator's flash and what it received land in the test's folder.
    TfmTop& Open(const std::vector<std::string>& simOptions = {}) {
        window_.reset();
        sim_.reset();
        fs::remove(dir_ / "flash.bin");
        fs::remove(dir_ / "input.bin");
        std::vector<std::string> options = {"--flash-file", (dir_ / "flash.bin").string(), "--record-input",
                                            (dir_ / "input.bin").string()};
        options.insert(options.end(), simOptions.begin(), simOptions.end());
        StartSim(options);
        WriteSettings();
        GuiRig::Open();
        states_.clear();
        reports_.clear();
        boxes_.Clear();
        window_->Reload().LoaderStateShown = [this](int state) {
            states_.push_back({state, window_->Pages()->isEnabled()});
            if (OnState) OnState(state);
        };
        window_->Reload().Display().Ended = [this](const LoadReport& r) { reports_.push_back(r); };
        window_->Reload().ChooseFirmwareFile = [this] { return QString::fromStdString(nextFile_.string()); };
        EXPECT_TRUE(window_->RequestPage(TfmTop::tsReload));
        return *window_;
    }
    fs::path WriteImage(const std::vector<uint8_t>& bytes, const std::string& name = "image.bin") {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return dir_ / name;
    }
    void Browse(const fs::path& file) {
        nextFile_ = file;
        C<QPushButton>("bbBrowse")->click();
    }
    void ChooseTarget(int target) {
        C<TRadioGroup>("rgType")->findChildren<QRadioButton*>()[target]->click();
    }
    // Browse the image, the target, a size and the CRC that a good load of it gives.
    void Prepare(const std::vector<uint8_t>& bytes, int target, int kib) {
        Browse(WriteImage(bytes));
        ChooseTarget(target);
        C<QLineEdit>("leLoadSize")->setText(QString::number(kib));
        const auto image = ImageOf(bytes);
        C<QLineEdit>("edCRC")->setText(
            QString::asprintf("%04X", LoadStreamCrc(*image, LoadLimitOf(static_cast<uint16_t>(kib)))));
    }
    bool WaitLoads(size_t n, int ms = 15000) {
        return WaitFor([&] { return reports_.size() >= n; }, ms);
    }
    bool WaitStandby(int ms = 4000) {
        return WaitFor(
            [&] { return window_->Reload().ShownLoaderState() == StateStandby && window_->Pages()->isEnabled(); }, ms);
    }
    bool Shown(int state) const {
        return std::any_of(states_.begin(), states_.end(), [&](const auto& s) { return s.first == state; });
    }
    std::vector<uint8_t> Flash() const {
        const std::string s = Slurp(dir_ / "flash.bin");
        return {s.begin(), s.end()};
    }
    std::string Input() const { return Slurp(dir_ / "input.bin"); }
    static std::string RestartFrame() {
        const auto f = BuildLoaderRestart();
        return std::string(f.begin(), f.end());
    }
    QString Status() { return GuiRig::Status(2); }

    fs::path nextFile_;
    std::vector<std::pair<int, bool>> states_;  // state shown, page control enabled then
    std::vector<LoadReport> reports_;
    std::function<void(int)> OnState;
};

TEST_F(ReloadTest, GoodImageLoadsForEveryTarget) {
    for (int target : {TargetDefault, TargetUsb, Target4100}) {
        SCOPED_TRACE(LoadTargetNames[target]);
        TfmTop& w = Open();
        EXPECT_EQ(C<QLabel>("lbState")->text(), "Setup!");
        EXPECT_FALSE(C<QPushButton>("sbGo")->isEnabled());
        const auto bytes =
            Pattern(20000 + 4000 * static_cast<size_t>(target), 11u + static_cast<uint32_t>(target));
        Prepare(bytes, target, 32);
        EXPECT_EQ(C<QLabel>("lbState")->text(), "Standby");
        EXPECT_EQ(C<QLabel>("lbFile")->text(), "image.bin");
        EXPECT_EQ(C<QLineEdit>("edFilePath")->text().toStdString(), (dir_ / "image.bin").string());
        EXPECT_EQ(w.State().FirmwarePath, (dir_ / "image.bin").string());
        ASSERT_TRUE(C<QPushButton>("sbGo")->isEnabled());

        C<QPushButton>("sbGo")->click();
        ASSERT_TRUE(WaitLoads(1));
        EXPECT_EQ(reports_[0].End, LoadEnd::Passed) << reports_[0].Detail;
        EXPECT_EQ(C<QLabel>("lbState")->text(), "F/W OK!");
        EXPECT_EQ(Status(), "Program OK!");
        EXPECT_EQ(C<QLabel>("lbResult")->text(), "PASS!");
        EXPECT_EQ(C<QLabel>("lbResult")->palette().color(QPalette::WindowText), QColor(0x00, 0x80, 0x00));
        const QString figures = C<QLabel>("lbTransfer")->text();
        EXPECT_TRUE(figures.contains("32.0 of 32.0 KiB") && figures.contains("bytes/s"))
            << figures.toStdString();
        EXPECT_TRUE(figures.contains("CRC host " + C<QLineEdit>("edCRC")->text())) << figures.toStdString();
        EXPECT_EQ(C<QProgressBar>("brProgress")->maximum(), 128);
        EXPECT_EQ(C<QProgressBar>("brProgress")->value(), 128);
        // The image, zeros to the end of its last packet, then FFh up to the size asked for.
        EXPECT_EQ(Flash(), StreamOf(bytes, 32));
        // The 4100 loader is not restarted: its request goes out at once.
        EXPECT_EQ(Input().find(RestartFrame()) != std::string::npos, target != Target4100);

        // Locked from the first state above Standby; the tabs come back with Standby.
        ASSERT_TRUE(WaitStandby());
        EXPECT_TRUE(Shown(target == Target4100 ? StateWaitAck : StateErasing));
        EXPECT_FALSE(Shown(StateStartLoading));
        for (const auto& [state, enabled] : states_) EXPECT_EQ(enabled, state <= StateStandby) << state;
        EXPECT_FALSE(C<QPushButton>("sbGo")->isChecked());
        EXPECT_FALSE(w.LoadTask().Active());
        EXPECT_TRUE(boxes_.Boxes().empty());
    }
}

TEST_F(ReloadTest, FaultyReceiverOutcomes) {
    struct Case {
        const char* option;
        LoadEnd end;
        int endState;        // shown before Standby
        const char* result;  // lbResult
        const char* why;     // in the figures line
    } cases[] = {
        {"--loader-crc=1234", LoadEnd::CrcMismatch, StateFailCrc, "FAIL!", "receiver 1234"},
        {"--loader-nack", LoadEnd::Refused, StateErasing, "", "refused the load request"},
        {"--loader-silent", LoadEnd::TimedOut, StateWaitResponse, "", "No answer in Wait For response"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        Open({c.option});
        Prepare(Pattern(5000, 3), TargetDefault, 16);
        C<QPushButton>("sbGo")->click();
        ASSERT_TRUE(WaitLoads(1, 10000));
        EXPECT_EQ(reports_[0].End, c.end);
        EXPECT_EQ(C<QLabel>("lbResult")->text(), c.result);
        EXPECT_EQ(C<QLabel>("lbState")->text(), c.end == LoadEnd::CrcMismatch ? "FAIL CRC!" : "Standby");
        ASSERT_TRUE(WaitStandby());
        EXPECT_TRUE(Shown(c.endState));
        EXPECT_TRUE(C<QLabel>("lbTransfer")->text().contains(c.why))
            << C<QLabel>("lbTransfer")->text().toStdString();
        EXPECT_FALSE(C<QPushButton>("sbGo")->isChecked());
    }
}

TEST_F(ReloadTest, AutoLoadLoadsTwoReceiversWithoutWrite) {
    TfmTop& w = Open();
    const auto bytes = Pattern(16384, 5);
    Prepare(bytes, TargetDefault, 16);
    C<QCheckBox>("cxAutoStart")->click();
    EXPECT_TRUE(w.State().AutoStart);
    EXPECT_TRUE(w.LoadTask().Active());
    for (size_t n = 1; n <= 2; ++n) {
        // A receiver restarts into its loader and announces it; nobody presses Write.
        if (n > 1) Pump(1500);  // the first one is back in its firmware
        RestartIntoLoader(*w.Port().Get(), 4800, TargetDefault, SystemClock());
        ASSERT_TRUE(WaitLoads(n)) << "receiver " << n;
        EXPECT_EQ(reports_.back().End, LoadEnd::Passed) << reports_.back().Detail;
        ASSERT_TRUE(WaitStandby());
        EXPECT_TRUE(w.LoadTask().Active());
        EXPECT_EQ(Flash(), StreamOf(bytes, 16));
    }
    EXPECT_FALSE(C<QPushButton>("sbGo")->isChecked());
    // Leaving the page disarms; coming back with Auto Load arms again.
    ASSERT_TRUE(w.RequestPage(TfmTop::tsView));
    EXPECT_FALSE(w.LoadTask().Active());
    ASSERT_TRUE(w.RequestPage(TfmTop::tsReload));
    EXPECT_TRUE(w.LoadTask().Active());
}

TEST_F(ReloadTest, FactoryDefaultFollowsAGoodLoad) {
    Open();
    Prepare(Pattern(5000, 9), TargetDefault, 16);
    C<QCheckBox>("cbFactoryDefault")->click();
    C<QPushButton>("sbGo")->click();
    ASSERT_TRUE(WaitLoads(1, 15000));
    EXPECT_EQ(reports_[0].End, LoadEnd::Passed) << reports_[0].Detail;
    EXPECT_TRUE(Shown(StateFactoryDefault));
    EXPECT_EQ(C<QLabel>("lbResult")->text(), "PASS!");
    ManualClock clock;
    const BuiltCommand factory = BuildCommand(0x08, PanelValues::Defaults(), clock);
    ASSERT_GT(factory.Length, 0);
    EXPECT_NE(Input().find(std::string(factory.Frame, factory.Frame + factory.Length)), std::string::npos);
}

TEST_F(ReloadTest, RefusedFilesAndFields) {
    TfmTop& w = Open();
    // Files the loader cannot use: the box, and the page stays as it was.
    struct FileCase {
        size_t size;
        bool ok;
    } files[] = {{0, false}, {262145, false}, {262144, true}, {1500, true}};
    for (const FileCase& f : files) {
        SCOPED_TRACE(f.size);
        boxes_.Clear();
        const std::string name = "f" + std::to_string(f.size) + ".bin";
        Browse(WriteImage(Pattern(f.size, 1), name));
        if (f.ok) {
            EXPECT_TRUE(boxes_.Boxes().empty());
            ASSERT_TRUE(w.Reload().Firmware());
            EXPECT_EQ(w.Reload().Firmware()->Size, static_cast<int32_t>(f.size));
            EXPECT_EQ(w.State().FirmwarePath, (dir_ / name).string());
            continue;
        }
        ASSERT_EQ(boxes_.Boxes().size(), 1u);
        EXPECT_EQ(boxes_.Boxes()[0].Title, "Error");
        EXPECT_EQ(boxes_.Boxes()[0].Text, "Wrong file!");
        EXPECT_EQ(boxes_.Boxes()[0].Icon, BoxIcon::Stop);
        EXPECT_EQ(C<QLabel>("lbState")->text(), "Setup!");
        EXPECT_FALSE(C<QPushButton>("sbGo")->isEnabled());
        EXPECT_EQ(w.State().FirmwarePath, ".");
        // An empty file is still named on the page; a too large one is not.
        EXPECT_EQ(C<QLabel>("lbFile")->text(), "f0.bin");
    }
    // The 1500-byte file after the full one: nothing of the earlier file is left behind it.
    EXPECT_EQ(w.Reload().Firmware()->Bytes[1500], 0);

    ChooseTarget(Target4100);
    EXPECT_EQ(C<QLineEdit>("leLoadAddr")->text() + " " + C<QLineEdit>("leLoadSize")->text(), "0 256");
    ChooseTarget(TargetUsb);
    EXPECT_EQ(C<QLineEdit>("leLoadAddr")->text() + " " + C<QLineEdit>("leLoadSize")->text(), "C0000 192");

    // Fields that are not numbers: refused at Write with the reason; nothing is sent.
    struct FieldCase {
        const char* control;
        const char* text;
        const char* message;
    } fields[] = {{"leLoadSize", "12x", "Size '12x'"},
                  {"leLoadAddr", "C000G", "Address 'C000G'"},
                  {"edCRC", "XYZ", "CRC 'XYZ'"}};
    for (const FieldCase& f : fields) {
        SCOPED_TRACE(f.control);
        boxes_.Clear();
        ChooseTarget(TargetDefault);
        C<QLineEdit>("edCRC")->setText("0");
        C<QLineEdit>(f.control)->setText(f.text);
        C<QPushButton>("sbGo")->click();
        ASSERT_EQ(boxes_.Boxes().size(), 1u);
        EXPECT_EQ(boxes_.Boxes()[0].Title, "Error");
        EXPECT_NE(boxes_.Boxes()[0].Text.find(f.message), std::string::npos) << boxes_.Boxes()[0].Text;
        EXPECT_FALSE(C<QPushButton>("sbGo")->isChecked());
        EXPECT_TRUE(w.Pages()->isEnabled());
        EXPECT_EQ(w.LoadTask().GetState(), StateStandby);
    }
    Pump(300);
    EXPECT_EQ(Input().find(RestartFrame()), std::string::npos);

    // The file last chosen is remembered in the settings file.
    ASSERT_TRUE(w.close());
    EXPECT_NE(Slurp(dir_ / "vantora.INI").find("Path=" + (dir_ / "f1500.bin").string()), std::string::npos);
}

TEST_F(ReloadTest, InterruptedLoadIsLeftWithWrite) {
    TfmTop& w = Open();
    Prepare(Pattern(30000, 4), TargetDefault, 32);
    // Disarmed while the receiver programs the first block, as leaving the page would.
    OnState = [&](int state) {
        if (state == StateProgramming) w.LoadTask().SetActive(false);
    };
    C<QPushButton>("sbGo")->click();
    ASSERT_TRUE(WaitLoads(1));
    EXPECT_EQ(reports_[0].End, LoadEnd::Interrupted);
    ASSERT_TRUE(WaitFor([&] { return C<QLabel>("lbState")->text() == "Interrupt!"; }, 2000));
    // Without Auto Load it stays there, but the page can be used again.
    Pump(300);
    EXPECT_EQ(w.LoadTask().GetState(), StateInterrupt);
    EXPECT_TRUE(w.Pages()->isEnabled());
    EXPECT_TRUE(C<QLabel>("lbTransfer")->text().contains("Interrupted in Programming..."));
    C<QPushButton>("sbGo")->click();
    ASSERT_TRUE(WaitStandby(2000));
    EXPECT_EQ(C<QLabel>("lbState")->text(), "Standby");
    EXPECT_FALSE(C<QPushButton>("sbGo")->isChecked());
    EXPECT_EQ(reports_.size(), 1u);
}

}  // namespace
}  // namespace vantora

int main(int argc, char** argv) {
    return vantora::test::RunGuiTests(argc, argv);
}
