// The command part of the View page against the simulated receiver: the tree at each user level,
// the panels, Send, the replies in their controls, the failure boxes and the repeated restart.
#include <QDateTime>
#include <QTableWidget>
#include <QTimer>
#include <cstring>

#include "protocol/commands.h"
#include "tests/support/gui_rig.h"

namespace vantora {
namespace {

using namespace test;
using Values = std::vector<std::pair<std::string, std::string>>;

std::string Hex(const std::string& bytes) {
    return FormatFrameHex(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
}

class CommandsTest : public GuiRig {
protected:
    // A window at the given level whose COM1 is the simulated receiver (started when sim is
    // set), which records what the window sends.
    TfmTop& Open(int level, bool sim = true, const std::vector<std::string>& simOptions = {},
                 const std::string& com1 = "") {
        if (sim) StartSim(simOptions);
        const char* key = level == 10 ? "HZQFXNJE" : level == 5 ? "MWRB" : level == 1 ? "KVDT" : "";
        WriteFile(ini_, std::string("[Setup]\nEngineer=") + key + "\n[Ports]\nCOM1=" +
                            (com1.empty() ? link_.string() : com1) + "\nCOM2=" + link_.string() + "\n");
        return GuiRig::Open();
    }
    void Connect() {
        ASSERT_TRUE(window_->RequestPage(TfmTop::tsView)) << (boxes_.Boxes().empty() ? "" : boxes_.Boxes()[0].Text);
        ASSERT_TRUE(WaitFor([&] { return window_->ViewTask().DataReceived(); }, 10000));
    }
    // What a control shows: an edit's or label's text, a memo's lines, a button's check state.
    QString Shown(const char* name) {
        QWidget* w = C<QWidget>(name);
        if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) return memo->toPlainText();
        if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->isChecked() ? "1" : "0";
        return w ? w->property("text").toString() : QString();
    }

    void Send(int cmd, const Values& values = {}) {
        ASSERT_TRUE(window_->Commands().SelectCommand(cmd)) << cmd;
        for (const auto& [name, value] : values) {
            std::string error;
            ASSERT_TRUE(window_->Commands().SetPanelControl(name, value, error)) << error;
        }
        C<QPushButton>("btSend")->click();
    }
    // Sends cmd; the frame it shows, of the command's length.
    std::string SendShown(int cmd, const Values& values = {}) {
        Send(cmd, values);
        const std::string shown = Shown("lbSentence").toStdString();
        EXPECT_EQ(static_cast<int>(shown.size()), FindCommand(cmd)->FrameLength * 3) << cmd;
        return shown;
    }
    void ExpectErrorBox(const std::string& part) { ExpectBox("Error", BoxIcon::Error, part); }

    const fs::path input_ = dir_ / "input.bin";
};

TEST_F(CommandsTest, TreePanelsAndGuardsFollowTheUserLevel) {
    // The one table of what each user level shapes: the tree, the rates of Configure IO, the
    // Trace page, the restart's date and time fields with the error count.
    const struct {
        int Level, Count, BaudItems;
        bool TraceEnabled, TimeShown;
    } levels[] = {{0, 7, 3, false, false}, {1, 19, 4, true, false}, {5, 21, 4, true, false},
                  {10, 32, 4, true, true}};
    for (const auto& l : levels) {
        SCOPED_TRACE(l.Level);
        TfmTop& w = Open(l.Level, false);
        EXPECT_EQ(std::tuple(C<TRadioGroup>("rgBaud")->Count(), C<QWidget>("tsTrace")->isEnabled()),
                  std::tuple(l.BaudItems, l.TraceEnabled));
        for (const char* edit : {"RSTyear", "RSTmonth", "RSTday", "RSThour", "RSTminute", "RSTsecond", "edError"})
            EXPECT_EQ(C<QWidget>(edit)->isHidden(), !l.TimeShown) << edit;
        auto* tree = C<QTreeWidget>("CmdTree");
        std::vector<int> expected;
        for (const CommandInfo& c : CommandTable)
            if (c.Level <= l.Level) expected.push_back(c.Number);
        ASSERT_EQ(w.Commands().TreeCommands(), expected);
        ASSERT_EQ(tree->topLevelItemCount(), l.Count);
        EXPECT_TRUE(l.Level != 0 || expected == std::vector<int>({1, 2, 3, 4, 5, 8, 0x19}));
        EXPECT_EQ(w.Commands().SelectedCommand(), 0);

        // Each node shows its panel in the one place, and only that panel; 08h has none.
        QWidget* shown = nullptr;
        for (int i = 0; i < l.Count; ++i) {
            tree->setCurrentItem(tree->topLevelItem(i));
            QWidget* panel = C<QWidget>(FindCommand(expected[i])->Panel);
            EXPECT_TRUE(w.Commands().SelectedCommand() == expected[i] && !panel->isHidden()) << expected[i];
            EXPECT_TRUE(!shown || shown == panel || shown->isHidden());
            shown = panel;
            EXPECT_EQ(Shown("lbCmd"), tree->topLevelItem(i)->text(0));
        }
        // Set Datum and Set Extended Datum share a panel with different fields.
        for (int cmd : {0x03, 0x1B}) {
            if (!w.Commands().SelectCommand(cmd)) continue;
            EXPECT_EQ(C<QWidget>("lbEdIdx")->isHidden(), cmd == 0x1B);
            EXPECT_EQ(C<QWidget>("lbElpA")->isHidden() && C<QWidget>("lbElpF")->isHidden(), cmd == 0x03);
        }
        // Read Trace takes the link rate of the Setup page.
        C<QComboBox>("cbFWbaud")->setCurrentIndex(2);
        EXPECT_TRUE(!w.Commands().SelectCommand(0x1E) || C<TRadioGroup>("rgTraceBaud")->ItemIndex() == 2);
        // The repeat controls appear at level 1 only.
        ASSERT_TRUE(w.Commands().SelectCommand(0x01));
        for (const char* name : {"btSpecial", "lbRepeat", "lbSecond"})
            EXPECT_EQ(C<QWidget>(name)->isHidden(), l.Level != 1) << name;

        // Production IDs and raw data output are for the highest level only.
        const struct {
            const char *Button, *Group, *Box;
            int Accepted;
        } guards[] = {{"rgID_0", "rgID", "Module ID need preliviledge!", 0},
                      {"rgOutputFormat_4", "rgOutputFormat", "Raw Data need preliviledge", 4}};
        for (const auto& g : guards) {
            w.findChild<QAbstractButton*>(g.Button)->click();
            if (l.Level < 10) ExpectBox("Vantora", BoxIcon::None, g.Box);
            EXPECT_TRUE(boxes_.Boxes().empty()) << g.Button;
            EXPECT_EQ(C<TRadioGroup>(g.Group)->ItemIndex(), l.Level < 10 ? 1 : g.Accepted);
        }
        window_.reset();
    }
}

TEST_F(CommandsTest, EverySendWritesTheFrameItShows) {
    TfmTop& w = Open(10);
    ASSERT_NO_FATAL_FAILURE(Connect());
    std::string expected;
    for (const CommandInfo& c : CommandTable) {
        if (c.FrameLength == 0) continue;
        const Values reals = {{"lbElpA", "6378137"}, {"lbElpF", "298.257223563"}};
        expected += SendShown(c.Number, c.Number == 0x1B ? reals : Values{});
    }
    // Values set in each kind of panel control (edits, radio groups, check boxes) reach their bytes;
    // the conversions' odd cases belong to the builders' own tests.
    const struct {
        int Cmd;
        Values Set;
        size_t Offset;
        const char* Bytes;
    } changed[] = {
        {0x01, {{"SetStartMode", "3"}}, 4, "01 03 "},
        {0x01, {{"RSTLat", "-0030"}, {"RSTLong", "4960"}}, 14, "ce ff 88 13 "},
        {0x04, {{"lbRMC", "300"}, {"cbChkSumd", "0"}}, 4, "00 2c "},
        {0x19, {{"rgGMTsign", "1"}, {"lbZoneHour", "8"}, {"cbUpdateSTime", "1"}}, 4, "01 f8 00 00 00 "},
    };
    for (const auto& c : changed) {
        const std::string shown = SendShown(c.Cmd, c.Set);
        EXPECT_EQ(shown.substr(3 * c.Offset, std::strlen(c.Bytes)), c.Bytes) << c.Cmd;
        expected += shown;
    }
    EXPECT_EQ(std::tuple(w.State().Nmea[CfgRmc], w.State().Nmea[CfgChecksum] & 0xFF), std::tuple(300, 0));  // uncut
    // Starting a read through the panel sets the trace-reading flag.
    ASSERT_FALSE(w.ViewTask().TraceReadActive());
    expected += SendShown(0x1E, {{"rgTraceReadAction", "1"}});
    EXPECT_TRUE(w.ViewTask().TraceReadActive());

    // The receiver got exactly these frames, one after the other.
    ASSERT_TRUE(WaitFor([&] { return Hex(Slurp(input_)).size() >= expected.size(); }, 5000));
    EXPECT_EQ(Hex(Slurp(input_)).substr(0, expected.size()), expected);
}

TEST_F(CommandsTest, RepliesLandInTheirControlsAndBinaryOutputShowsTheGrid) {
    Open(10, true, {"--trace-records", "40"});
    ASSERT_NO_FATAL_FAILURE(Connect());
    const char* const navigation =
        "Position Update Rate= 1\nDOP Mask= Pdop\nGDOP=9, PDOP=8, HDOP=7\nElevation Mask= 12 degree\n"
        "DGPS= Disable\n1PPS= ON, Pulse Width= 100 us";
    const char* const system =
        "Baudrate: COM1=0, COM2=0\nNMEA check sum=ON\nPeriod: RMC=1, VTG=0, GGA=1, GSA=1\n"
        "            GSV=1, GLL=0, ZDA=0\nOutput= NMEA\nLocale: H=0,M=0,S=0,Adjust=0\n"
        "            Time Localized=OFF\nEllipsoid Index= 0\n            A= 6378137.000000\n"
        "            1/F= 298.257224\nDatum Delta X= 0\n            Delta Y= 0\n            Delta Z= 0";
    using Texts = std::vector<std::pair<const char*, const char*>>;
    // Which field shows which count belongs to the texts' own tests; here the texts land.
    const struct {
        int Cmd;
        Values Set;
        Texts Shown;  // control, text (buttons: checked)
    } steps[] = {
        {0x05, {}, {{"lbRevision", "VSIM 1.80"}, {"lbRevDate", "24/05/17"}, {"lbRevTime", "12:00:00"}}},
        {0x07,
         {{"lbItem", "3"}},
         {{"lbResult1", "3"}, {"lbResult2", "12"}, {"lbResult3", "0"}, {"lbResult4", "0"}}},
        {0x0D, {{"rgID", "1"}, {"edModuleID", "4242"}}, {{"rbACK", "1"}}},
        {0x0E, {{"edModuleID", ""}}, {{"edModuleID", "4242"}}},
        {0x0F, {{"rgDopMask", "2"}, {"edGdop", "9"}, {"edPdop", "8"}, {"edHdop", "7"}}, {{"rbACK", "1"}}},
        {0x10, {{"edElvMask", "12"}}, {{"rbACK", "1"}}},
        {0x12, {{"rg1PPS", "2"}, {"ed1ppsBW", "2"}, {"ed1ppsMul", "5"}}, {{"rbACK", "1"}}},
        {0x17, {}, {{"moShowText", navigation}}},
        {0x18, {}, {{"moShowText", system}}},
        {0x0B, {}, {{"lbReadAlmc", "32 / 32"}}},
        {0x1F, {}, {{"lbTraceStatus", "stop"}, {"lbTraceNum", "40"}, {"lbTrcPct", "0"}}},
        {0x13, {{"rgOutputFormat", "4"}}, {{"rbNACK", "1"}, {"rbACK", "0"}}},  // no raw data here
    };
    for (const auto& step : steps) {
        Send(step.Cmd, step.Set);
        for (const auto& [name, text] : step.Shown)
            EXPECT_TRUE(WaitFor([&] { return Shown(name) == text; }, 8000))
                << step.Cmd << " " << name << ": " << Shown(name).toStdString();
    }
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{4}$").match(Shown("lbCRC")).hasMatch());
    EXPECT_EQ(C<QProgressBar>("pbReadAlmc")->maximum(), 32);

    // Each Send empties its reply fields before the answer arrives.
    Send(0x05);
    EXPECT_EQ(Shown("lbRevision") + Shown("lbRevDate") + Shown("lbRevTime") + Shown("lbCRC"), "");
    Send(0x07, {{"lbItem", "4"}});
    EXPECT_EQ(Shown("lbResult1") + Shown("lbResult2") + Shown("lbResult3") + Shown("lbResult4"), "");
    EXPECT_TRUE(WaitFor([&] { return Shown("lbResult1") == "4" && Shown("lbRevision") != ""; }, 5000));
    for (int round = 0; round < 2; ++round) {  // the second Send empties what the first one brought
        Send(0x06);
        EXPECT_EQ(Shown("lbClockOffSet"), "");
        EXPECT_TRUE(WaitFor(
            [&] { return QRegularExpression("^\\d{1,5}$").match(Shown("lbClockOffSet")).hasMatch(); }, 5000));
    }

    // Ephemerides come for the satellites in view only.
    Send(0x09);
    const QRegularExpression progress("^(\\d+) / \\1$");
    ASSERT_TRUE(WaitFor([&] { return progress.match(Shown("lbReadEphs")).hasMatch(); }, 8000));
    const int ephs = progress.match(Shown("lbReadEphs")).captured(1).toInt();
    EXPECT_GT(ephs, 0);
    EXPECT_EQ(C<QProgressBar>("pbReadEphs")->value(), ephs);

    // Binary output shows the measurement grid over the memo; NMEA hides it again.
    auto* grid = C<QTableWidget>("sgMeas");
    EXPECT_TRUE(grid->isHidden() && C<QWidget>("lbClkOff")->isHidden());
    Send(0x13, {{"rgOutputFormat", "2"}});
    ASSERT_TRUE(WaitFor([&] { return !grid->isHidden() && !grid->item(1, 1)->text().isEmpty(); }, 10000));
    EXPECT_FALSE(C<QWidget>("lbClkOff")->isHidden());
    EXPECT_FALSE(Shown("lbClkOff").isEmpty() || Shown("edMeasUTC").isEmpty());
    const int prn = grid->item(1, 1)->text().toInt();
    EXPECT_TRUE(prn >= 1 && prn <= 64) << prn;
    EXPECT_EQ(grid->item(1, 0)->text(), "1");
    Send(0x13, {{"rgOutputFormat", "1"}});
    ASSERT_TRUE(WaitFor([&] { return grid->isHidden(); }, 10000));
    EXPECT_TRUE(C<QWidget>("lbClkOff")->isHidden());
}

TEST_F(CommandsTest, FailedSendsShowABoxAndWriteNothing) {
    // COM1 does not exist: the page stays on Setup, without a port.
    TfmTop& w = Open(10, true, {}, (dir_ / "absent").string());
    Send(0x06);
    ExpectErrorBox("No port is open");
    EXPECT_FALSE(w.RequestPage(TfmTop::tsView));
    boxes_.Clear();  // "Wrong com!"
    Send(0x06);
    ExpectErrorBox("No port is open");
    C<QComboBox>("cbPort")->setCurrentIndex(1);
    ASSERT_NO_FATAL_FAILURE(Connect());
    C<QLineEdit>("lbSentence")->setText("before");

    const struct {
        int Cmd;
        Values Set;
        const char* Box;  // how the box starts; nullptr: no box
    } cases[] = {
        {0x01, {{"RSTLat", "12a"}}, "RSTLat: '12a'"},
        {0x01, {{"RSTLat", "4913"}, {"RSTyear", ""}}, "RSTyear: ''"},
        {0x1B, {{"lbElpA", ""}, {"lbElpF", "298.25"}}, "lbElpA: ''"},
        {0x1B, {{"lbElpA", "6378137"}, {"lbElpF", "1/298"}}, "lbElpF: '1/298'"},
        {0x0A, {}, nullptr},
    };
    bool nack = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Cmd);
        // Whichever reply was shown last, Send clears it.
        C<QAbstractButton>((nack = !nack) ? "rbNACK" : "rbACK")->setChecked(true);
        Send(c.Cmd, c.Set);
        EXPECT_EQ(Shown("rbACK") + Shown("rbNACK") + Shown("lbSentence"), "00before");
        if (c.Box)
            ExpectErrorBox(c.Box);
        else
            EXPECT_TRUE(boxes_.Boxes().empty());
    }
    Pump(500);
    EXPECT_EQ(Slurp(input_), "");

    // A write that fails: its fixed text, and the frame stays shown.
    w.Port().Get()->Close();
    Send(0x06);
    ExpectErrorBox(WriteFailedText);
    EXPECT_EQ(Shown("lbSentence"), "25 25 f1 06 f7 0d 0a ");
}

TEST_F(CommandsTest, RepeatRestartResendsAfterTheRestartWait) {
    TfmTop& w = Open(1);
    ASSERT_NO_FATAL_FAILURE(Connect());
    const QDate today = QDateTime::currentDateTimeUtc().date();
    ASSERT_TRUE(w.Commands().SelectCommand(0x01));
    // The date fields were filled with the current UTC date when the panel was placed.
    EXPECT_EQ(Shown("RSTyear") + "-" + Shown("RSTmonth") + "-" + Shown("RSTday"), today.toString("yyyy-M-d"));
    auto* special = C<QPushButton>("btSpecial");
    ASSERT_FALSE(special->isHidden());

    // Twice at once: stopped before the first tick.
    special->click();
    EXPECT_EQ(special->text(), "Stop EXE");
    special->click();
    EXPECT_EQ(special->text(), "Repeat EXE");
    EXPECT_FALSE(C<QTimer>("tmrRepeat")->isActive());
    Pump(3 * timings_.RepeatTickMs);
    EXPECT_EQ(Slurp(input_), "");

    C<QLineEdit>("lbRepeat")->setText("1");
    const BuiltCommand restart = BuildCommand(0x01, w.Commands().CollectPanelValues(), SystemClock());
    const std::string frame = FormatFrameHex(restart.Frame, restart.Length);
    special->click();
    EXPECT_EQ(w.Commands().RepeatPhase(), 2);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(WaitFor([&] { return !Slurp(input_).empty(); }, 3000));
    const qint64 first = clock.elapsed();
    EXPECT_EQ(Hex(Slurp(input_)), frame);
    EXPECT_EQ(Shown("lbSentence"), "");  // the repeat does not show its frame
    EXPECT_EQ(std::tuple(w.Commands().RepeatPhase(), w.Commands().RepeatCountdown()), std::tuple(0, 1));

    const size_t frameBytes = frame.size() / 3;
    ASSERT_TRUE(WaitFor([&] { return Slurp(input_).size() >= 2 * frameBytes; }, 15000));
    EXPECT_GE(clock.elapsed() - first, timings_.RepeatRestartWaitMs);
    EXPECT_EQ(Hex(Slurp(input_)), frame + frame);
    special->click();
    EXPECT_FALSE(C<QTimer>("tmrRepeat")->isActive());
}

}  // namespace
}  // namespace vantora
