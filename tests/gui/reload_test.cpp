// The Reload page against the simulated receiver: choosing the image, Write, the loader's states
// and the page lock, the result. The file dialog is replaced, so nothing waits.
#include <QRadioButton>

#include "tests/support/gui_rig.h"
#include "tests/support/loader_recorder.h"

namespace vantora {
namespace {

using namespace test;

class ReloadTest : public GuiRig {
protected:
    // A simulator and a window on its Reload page, recording every state shown and every load's end.
    TfmTop& Open() {
        StartSim();
        WriteSettings();
        GuiRig::Open();
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
        WriteFile(dir_ / name, std::string(bytes.begin(), bytes.end()));
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
    std::string Input() const { return Slurp(dir_ / "input.bin"); }
    static std::string RestartFrame() {
        const auto f = BuildLoaderRestart();
        return std::string(f.begin(), f.end());
    }

    fs::path nextFile_;
    std::vector<std::pair<int, bool>> states_;  // state shown, page control enabled then
    std::vector<LoadReport> reports_;
    std::function<void(int)> OnState;
};

// The outcomes of a load (targets, faulty receivers, Auto Load, factory default) belong to the
// loader's own tests; this one drives the page: Browse, Write, the states and the lock, the
// result, then a load interrupted and left with Write.
TEST_F(ReloadTest, WriteLoadsTheImageAndAnInterruptedLoadIsLeftWithWrite) {
    TfmTop& w = Open();
    EXPECT_TRUE(C<QLabel>("lbState")->text() == "Setup!" && !C<QPushButton>("sbGo")->isEnabled());
    const auto bytes = Pattern(20000, 11);
    Prepare(bytes, TargetDefault, 32);
    EXPECT_EQ(C<QLabel>("lbState")->text(), "Standby");
    ASSERT_TRUE(C<QPushButton>("sbGo")->isEnabled());

    C<QPushButton>("sbGo")->click();
    ASSERT_TRUE(WaitLoads(1));
    EXPECT_EQ(reports_[0].End, LoadEnd::Passed) << reports_[0].Detail;
    EXPECT_EQ(C<QLabel>("lbState")->text() + "|" + Status(2) + "|" + C<QLabel>("lbResult")->text(),
              "F/W OK!|Program OK!|PASS!");
    const QString figures = C<QLabel>("lbTransfer")->text();
    EXPECT_TRUE(figures.contains("32.0 of 32.0 KiB") && figures.contains("CRC host " + C<QLineEdit>("edCRC")->text()))
        << figures.toStdString();
    EXPECT_EQ(C<QProgressBar>("brProgress")->value(), C<QProgressBar>("brProgress")->maximum());
    const auto flashed = StreamOf(bytes, 32);
    EXPECT_EQ(Slurp(dir_ / "flash.bin"), std::string(flashed.begin(), flashed.end()));
    EXPECT_NE(Input().find(RestartFrame()), std::string::npos);
    // Locked from the first state above Standby; the tabs come back with Standby.
    ASSERT_TRUE(WaitStandby());
    EXPECT_NE(std::find(states_.begin(), states_.end(), std::pair<int, bool>{StateErasing, false}), states_.end());
    for (const auto& [state, enabled] : states_) EXPECT_EQ(enabled, state <= StateStandby) << state;
    EXPECT_FALSE(C<QPushButton>("sbGo")->isChecked() || w.LoadTask().Active());

    // Cancelled (the button beside the status, or Esc) while the receiver programs the first block.
    auto* cancel = C<QPushButton>("btCancel");
    EXPECT_TRUE(cancel->isHidden());
    reports_.clear();
    OnState = [&](int state) {
        if (state == StateProgramming && !cancel->isHidden()) cancel->click();
    };
    C<QPushButton>("sbGo")->click();
    ASSERT_TRUE(WaitLoads(1));
    EXPECT_EQ(reports_[0].End, LoadEnd::Interrupted);
    ASSERT_TRUE(WaitFor([&] { return C<QLabel>("lbState")->text() == "Interrupt!"; }, 2000));
    // Without Auto Load it stays there, but the page can be used again; Write leaves it.
    EXPECT_EQ(w.LoadTask().GetState(), StateInterrupt);
    EXPECT_TRUE(w.Pages()->isEnabled() && cancel->isHidden());
    EXPECT_TRUE(C<QLabel>("lbTransfer")->text().contains("Interrupted in Programming..."));
    C<QPushButton>("sbGo")->click();
    ASSERT_TRUE(WaitStandby(2000));
    EXPECT_FALSE(C<QPushButton>("sbGo")->isChecked());
    EXPECT_EQ(reports_.size(), 1u);
}

TEST_F(ReloadTest, RefusedFilesAndFields) {
    TfmTop& w = Open();
    // Files the loader cannot use: the box, and the page stays as it was.
    struct FileCase {
        size_t size;
        bool ok;
    } files[] = {{0, false}, {262145, false}, {1500, true}};
    for (const FileCase& f : files) {
        SCOPED_TRACE(f.size);
        const std::string name = "f" + std::to_string(f.size) + ".bin";
        Browse(WriteImage(Pattern(f.size, 1), name));
        if (f.ok) {
            EXPECT_TRUE(boxes_.Boxes().empty());
            ASSERT_TRUE(w.Reload().Firmware());
            EXPECT_EQ(w.Reload().Firmware()->Size, static_cast<int32_t>(f.size));
            EXPECT_EQ(w.State().FirmwarePath, (dir_ / name).string());
            continue;
        }
        ExpectBox("Error", BoxIcon::Stop, "Wrong file!");
        EXPECT_TRUE(C<QLabel>("lbState")->text() == "Setup!" && !C<QPushButton>("sbGo")->isEnabled());
        EXPECT_EQ(w.State().FirmwarePath, ".");
        // An empty file is still named on the page; a too large one is not.
        EXPECT_EQ(C<QLabel>("lbFile")->text(), "f0.bin");
    }

    ChooseTarget(Target4100);
    EXPECT_EQ(C<QLineEdit>("leLoadAddr")->text() + " " + C<QLineEdit>("leLoadSize")->text(), "0 256");
    ChooseTarget(TargetUsb);
    EXPECT_EQ(C<QLineEdit>("leLoadAddr")->text() + " " + C<QLineEdit>("leLoadSize")->text(), "C0000 192");

    // Fields that are not numbers: refused at Write with the reason; nothing is sent.
    struct FieldCase {
        const char *control, *text, *message;
    } fields[] = {
        {"leLoadSize", "12x", "Size '12x'"},
        {"edCRC", "XYZ", "CRC 'XYZ'"},
        {"leLoadSize", "1", "The image has 1500 bytes, more than the 1024 bytes (1 KiB) to program"}};
    for (const FieldCase& f : fields) {
        SCOPED_TRACE(f.control);
        ChooseTarget(TargetDefault);
        C<QLineEdit>("edCRC")->setText("0");
        C<QLineEdit>(f.control)->setText(f.text);
        C<QPushButton>("sbGo")->click();
        ExpectBox("Error", BoxIcon::Error, f.message);
        EXPECT_TRUE(!C<QPushButton>("sbGo")->isChecked() && w.Pages()->isEnabled());
        EXPECT_TRUE(WaitFor([&] { return w.LoadTask().GetState() == StateStandby; }, 1000));
    }
    Pump(300);
    EXPECT_EQ(Input().find(RestartFrame()), std::string::npos);

    // The file last chosen is remembered in the settings file.
    ASSERT_TRUE(w.close());
    EXPECT_NE(Slurp(dir_ / "vantora.INI").find("Path=" + (dir_ / "f1500.bin").string()), std::string::npos);
}

}  // namespace
}  // namespace vantora
