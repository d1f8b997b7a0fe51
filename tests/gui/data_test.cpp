// The window's receiver data against the simulated receiver: the NMEA log, the Trace page (record,
// clear, status, read, its end and time-out, conversion) and the ephemeris and almanac files.
#include <algorithm>

#include "protocol/commands.h"
#include "tests/support/gui_rig.h"
#include "tests/support/sample_stream.h"

namespace vantora {
namespace {

using namespace test;
using Bytes = std::vector<uint8_t>;

// The payloads of the good F2h frames of one kind (payload length fixed per kind), in order.
std::vector<std::string> Payloads(const std::string& bytes, uint8_t id2, size_t length) {
    std::vector<std::string> out;
    const std::string start = {'%', '%', static_cast<char>(IdReport), static_cast<char>(id2)};
    for (size_t at = bytes.find(start); at != std::string::npos; at = bytes.find(start, at + 1)) {
        const std::string p = bytes.substr(at + 4, length);
        if (bytes.compare(at, length + 7, sample::BinaryFrame(IdReport, id2, {p.begin(), p.end()})) == 0)
            out.push_back(p);
    }
    return out;
}

class DataTest : public GuiRig {
protected:
    // The window's fixed files go to the current folder.
    void SetUp() override { fs::current_path(dir_); }
    void TearDown() override {
        GuiRig::TearDown();
        fs::current_path(home_);
    }

    // The window is open at level 1.
    TfmTop& Start(const std::vector<std::string>& options, int page) {
        StartSim(options);
        WriteSettings("Engineer=KVDT\n");
        TfmTop& w = Open();
        w.Trace().TraceFrameSent = [this](const uint8_t* f, int n) { frames_.emplace_back(f, f + n); };
        EXPECT_TRUE(w.RequestPage(page));
        return w;
    }
    void Click(const char* button) { C<QPushButton>(button)->click(); }
    void ChooseAction(int row) {
        auto* tree = C<QTreeWidget>("tvTraceCmd");
        tree->setCurrentItem(tree->topLevelItem(row));
    }
    // "Request", then the logged count the status report shows.
    void RequestStatus(const char* logged) {
        Click("Button1");
        ASSERT_TRUE(WaitFor([&] { return C<QLineEdit>("lbTrcLogged")->text() == logged; }, 10000))
            << "lbTrcLogged " << C<QLineEdit>("lbTrcLogged")->text().toStdString();
    }
    std::string Sent() { return Slurp(dir_ / "sent.bin"); }
    // Start on the read panel is refused with a box that says why; nothing is sent, no file made.
    void ExpectReadRefused(const char* why) {
        frames_.clear();
        Click("btTrcRead");
        EXPECT_TRUE(frames_.empty() && window_->Trace().TraceState() == 0 && !fs::exists("tracelog.tmp"));
        ExpectBox("Information", BoxIcon::Information, why);
    }

    const fs::path home_ = fs::current_path();
    std::vector<Bytes> frames_;
};

const Bytes StatusRequest = {0x25, 0x25, 0xF1, 0x1F, 0x00, 0x00, 0xEE, 0x0D, 0x0A};

TEST_F(DataTest, RecordedTraceIsReadWhole_EndsByItself_AndConvertsInBothForms) {
    constexpr int N = 50;
    TfmTop& w = Start({"--trace-records", std::to_string(N)}, TfmTop::tsTrace);
    ChooseAction(1);
    EXPECT_FALSE(C<QWidget>("pnTrcRead")->isHidden());
    RequestStatus("50");

    frames_.clear();
    Click("btTrcRead");
    EXPECT_EQ(frames_, (std::vector<Bytes>{
                           {0x25, 0x25, 0xF1, 0x1E, 0x02, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0xED, 0x0D, 0x0A}}));
    EXPECT_EQ(C<QPushButton>("btTrcRead")->text(), "Stop");
    EXPECT_TRUE(w.Trace().TraceState() == 2 && w.ViewTask().TraceReadActive());
    EXPECT_FALSE(C<QWidget>("tvTraceCmd")->isEnabled());

    // The receive thread ends the read once all logged records are in.
    ASSERT_TRUE(WaitFor([&] { return w.Trace().TraceState() == 0; }, 20000)) << w.ViewTask().TraceRecordsRead();
    EXPECT_EQ(w.ViewTask().TraceRecordsRead(), N);
    EXPECT_EQ(C<QPushButton>("btTrcRead")->text(), "Start");
    EXPECT_TRUE(!w.ViewTask().TraceReadActive() && C<QWidget>("tvTraceCmd")->isEnabled());
    EXPECT_EQ(C<QProgressBar>("pbReadProgress")->value(), N);
    ASSERT_EQ(frames_.size(), 2u);
    EXPECT_EQ(frames_[1], StatusRequest);  // and no Read Trace stop frame
    ASSERT_TRUE(WaitFor([&] { return !w.ViewTask().LogOpen(); }, 2000));

    // tracelog.tmp: a contiguous run of what the receiver sent, with exactly its N records.
    const std::string raw = Slurp("tracelog.tmp");
    const std::string sent = Sent();
    EXPECT_NE(sent.find(raw), std::string::npos);
    const auto records = Payloads(raw, 0x88, 18);
    EXPECT_EQ(records, Payloads(sent, 0x88, 18));
    ASSERT_EQ(records.size(), static_cast<size_t>(N));

    ChooseAction(3);
    std::string forms[2];
    for (int form = 0; form < 2; ++form) {
        C<QAbstractButton>(form ? "rgSelCvt_1" : "rgSelCvt_0")->click();
        Click("btConvert");
        ASSERT_TRUE(WaitFor([&] { return !w.Trace().ConversionRunning(); }, 10000));
        EXPECT_TRUE(C<QWidget>("btConvert")->isEnabled());
        EXPECT_EQ(C<QProgressBar>("pbConvert")->value(), static_cast<int>(raw.size()));
        forms[form] = Slurp("tracedata.log");
        EXPECT_EQ(std::count(forms[form].begin(), forms[form].end(), '\n'), N);
    }
    // The columns of each form belong to the conversion's own tests; the choice reaches it.
    EXPECT_NE(forms[0], forms[1]);

    // The log channel is free again.
    w.Commands().ChooseLogFile = [&] { return QString::fromStdString((dir_ / "after.bin").string()); };
    Click("btLog");
    EXPECT_EQ(C<QPushButton>("btLog")->text(), "Stop log");
}

TEST_F(DataTest, RecordClearAndStatusSendTheirFrames) {
    TfmTop& w = Start({"--trace-records", "3"}, TfmTop::tsTrace);
    RequestStatus("3");
    // The receiver records positions only with a fix.
    ASSERT_TRUE(WaitFor(
        [&] { return C<QLabel>("lbFix")->text() == "2D" || C<QLabel>("lbFix")->text().startsWith("3D"); },
        20000));
    ChooseAction(2);
    frames_.clear();
    Click("btTrcRecord");
    ASSERT_EQ(frames_.size(), 1u);
    EXPECT_EQ(std::tuple(frames_[0][3], frames_[0][4]), std::tuple(0x1D, 1)) << "record";
    EXPECT_EQ(C<QPushButton>("btTrcRecord")->text(), "Stop");
    EXPECT_TRUE(w.Trace().TraceState() == 1 && !C<QWidget>("tvTraceCmd")->isEnabled());
    // The moving receiver adds a record a second: status requests until one more is logged.
    ASSERT_TRUE(WaitFor(
        [&] {
            Click("Button1");
            Pump(300);
            return C<QLabel>("lbTrcStatus")->text() == "Recording..." &&
                   C<QLineEdit>("lbTrcLogged")->text().toInt() > 3;
        },
        10000));
    const size_t sentBefore = frames_.size();
    Click("btTrcRecord");
    ASSERT_EQ(frames_.size(), sentBefore + 1);
    EXPECT_EQ(frames_.back()[4], 0) << "stop recording";
    EXPECT_TRUE(w.Trace().TraceState() == 0 && C<QWidget>("tvTraceCmd")->isEnabled());
    Click("Button1");
    ASSERT_TRUE(WaitFor([&] { return C<QLabel>("lbTrcStatus")->text() == "stop"; }, 10000));

    ChooseAction(0);
    Click("btClear");
    EXPECT_EQ(frames_.back(), (Bytes{0x25, 0x25, 0xF1, 0x1F, 0x01, 0x00, 0xEF, 0x0D, 0x0A}));
    RequestStatus("0");
    EXPECT_EQ(frames_.back(), StatusRequest);

    ChooseAction(1);
    ExpectReadRefused("no records");
}

TEST_F(DataTest, NmeaLogIsTheRawStream_AndKeepsTheChannelFromARead) {
    TfmTop& w = Start({"--trace-records", "50"}, TfmTop::tsView);
    auto* button = C<QPushButton>("btLog");
    // Cancelled dialog, then a file that cannot be created.
    w.Commands().ChooseLogFile = [] { return QString(); };
    Click("btLog");
    EXPECT_EQ(button->text(), "Log");
    w.Commands().ChooseLogFile = [&] { return QString::fromStdString((dir_ / "absent" / "x.bin").string()); };
    Click("btLog");
    ExpectBox("Error", BoxIcon::Error, "Wrong file!");
    EXPECT_EQ(button->text(), "Log");
    // A write that fails (a full disk) stops the log, says why and resets the button.
    w.Commands().ChooseLogFile = [] { return QString("/dev/full"); };
    Click("btLog");
    ASSERT_TRUE(WaitFor([&] { return boxes_.Boxes().size() == 1; }, 10000));
    ExpectBox("Error", BoxIcon::Error,
              "Cannot write /dev/full: No space left on device. The log is stopped; the file holds 0 bytes.");
    EXPECT_EQ(button->text() + "|" + Status(2), "Log|");

    // An existing file is replaced.
    const fs::path log = dir_ / "nmea.bin";
    std::ofstream(log) << "old contents";
    w.Commands().ChooseLogFile = [&] { return QString::fromStdString(log.string()); };
    Click("btLog");
    EXPECT_EQ(button->text(), "Stop log");
    EXPECT_EQ(Status(2).toStdString(), "Logged: " + log.string());
    ASSERT_TRUE(WaitFor([&] { return fs::file_size(log) > 600; }, 10000));

    // A read while the log runs is refused, and says why.
    ASSERT_TRUE(w.RequestPage(TfmTop::tsTrace));
    ChooseAction(1);
    RequestStatus("50");
    ExpectReadRefused("Stop log");

    ASSERT_TRUE(w.RequestPage(TfmTop::tsView));
    Click("btLog");
    EXPECT_EQ(button->text() + "|" + Status(2), "Log|");
    ASSERT_TRUE(WaitFor([&] { return !w.ViewTask().LogOpen(); }, 2000));
    const std::string logged = Slurp(log);
    EXPECT_GT(logged.size(), 600u);
    EXPECT_NE(Sent().find(logged), std::string::npos) << "the log is not a run of what was sent";
    EXPECT_NE(logged.find("$GPGGA,"), std::string::npos);
}

TEST_F(DataTest, ReadWhoseRecordsStopArrivingTimesOut) {
    TfmTop& w = Start({"--trace-records", "50"}, TfmTop::tsTrace);
    ChooseAction(1);
    RequestStatus("50");
    // From record 40 on only 10 of the 50 logged records come.
    C<QLineEdit>("lbStartPos")->setText("40");
    frames_.clear();
    Click("btTrcRead");
    ASSERT_EQ(frames_.size(), 1u);
    EXPECT_EQ(frames_[0][6] | frames_[0][7] << 8, 40);
    ASSERT_TRUE(WaitFor([&] { return w.ViewTask().TraceRecordsRead() == 10; }, 10000));

    // The NMEA log cannot take the channel meanwhile.
    w.Commands().ChooseLogFile = [&] { return QString::fromStdString((dir_ / "nmea.bin").string()); };
    ASSERT_TRUE(w.RequestPage(TfmTop::tsView));
    Click("btLog");
    EXPECT_EQ(C<QPushButton>("btLog")->text(), "Log");
    ExpectBox("Information", BoxIcon::Information, "");
    ASSERT_TRUE(w.RequestPage(TfmTop::tsTrace));

    QElapsedTimer waited;
    waited.start();
    ASSERT_TRUE(WaitFor([&] { return w.Trace().TraceState() == 0; }, 15000));
    EXPECT_GE(waited.elapsed(), (timings_.TraceReadTimeoutSeconds - 2) * 1000);
    ExpectBox("Error", BoxIcon::Error, "after 10 of 50 records");
    // Stopped as the Stop button does: the status request, then Read Trace with action 00h.
    ASSERT_EQ(frames_.size(), 3u);
    EXPECT_EQ(frames_[1], StatusRequest);
    EXPECT_EQ(std::tuple(frames_[2][3], frames_[2][4]), std::tuple(0x1E, 0x00));
    EXPECT_EQ(C<QPushButton>("btTrcRead")->text(), "Start");
    EXPECT_FALSE(w.ViewTask().TraceReadActive());
    ASSERT_TRUE(WaitFor([&] { return !w.ViewTask().LogOpen(); }, 2000));
    EXPECT_EQ(Payloads(Slurp("tracelog.tmp"), 0x88, 18).size(), 10u);
}

TEST_F(DataTest, EphemerisAndAlmanacFilesHoldTheReceivedBlocks) {
    TfmTop& w = Start({}, TfmTop::tsView);
    auto saved = [&](const char* button, const char* file, size_t size) {
        fs::remove(file);
        Click(button);
        return WaitFor([&] { return fs::exists(file) && fs::file_size(file) == size; }, 5000);
    };
    // Before any read: all zeros.
    ASSERT_TRUE(saved("btSaveAlmc", "almc.dat", 1536));
    EXPECT_EQ(Slurp("almc.dat"), std::string(1536, '\0'));

    const struct {
        int Command;
        const char *Bar, *Button, *File;
        uint8_t Report;
        size_t Block;
    } cases[] = {{0x09, "pbReadEphs", "btEphsSave", "ephs.dat", 0x83, 120},
                 {0x0B, "pbReadAlmc", "btSaveAlmc", "almc.dat", 0x84, 48}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        const BuiltCommand cmd = BuildCommand(c.Command, PanelValues::Defaults(), SystemClock());
        ASSERT_GT(cmd.Length, 0);
        w.Port().Get()->txData(cmd.Frame, cmd.Length);
        auto* bar = C<QProgressBar>(c.Bar);
        ASSERT_TRUE(WaitFor([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }, 15000));
        ASSERT_TRUE(saved(c.Button, c.File, 32 * c.Block));
        std::string expected(32 * c.Block, '\0');
        const auto reports = Payloads(Sent(), c.Report, c.Block + 2);
        ASSERT_EQ(reports.size(), static_cast<size_t>(bar->maximum()));
        for (const std::string& r : reports) {
            const int sat = static_cast<uint8_t>(r[1]);
            ASSERT_TRUE(sat >= 1 && sat <= 32);
            expected.replace((sat - 1) * c.Block, c.Block, r.substr(2));
        }
        EXPECT_EQ(Slurp(c.File), expected);
    }
    // Two saves at once: both files are written.
    const std::string ephs = Slurp("ephs.dat"), almc = Slurp("almc.dat");
    fs::remove("ephs.dat");
    fs::remove("almc.dat");
    Click("btEphsSave");
    Click("btSaveAlmc");
    ASSERT_TRUE(WaitFor([&] { return Slurp("ephs.dat") == ephs && Slurp("almc.dat") == almc; }, 5000));
}

TEST_F(DataTest, FilesThatCannotBeReadOrWrittenSaySo) {
    WriteFile(ini_, "[Setup]\nEngineer=KVDT\n");
    TfmTop& w = Open();
    const struct {
        const char *Action, *Blocker, *Verb, *File;  // Blocker: a folder where a file should be
    } cases[] = {
        {"btConvert", nullptr, "Cannot read", "tracelog.tmp"},
        {"btConvert", "tracedata.log", "Cannot write", "tracedata.log"},
        {"btEphsSave", "ephs.dat", "Cannot write", "ephs.dat"},  // the almanac's save is the same code
    };
    for (const auto& c : cases) {
        const std::string expected = std::string(c.Verb) + " " + (fs::current_path() / c.File).string();  // in full
        SCOPED_TRACE(expected);
        if (c.Blocker) {
            std::ofstream("tracelog.tmp") << "no records";
            fs::create_directory(c.Blocker);
        }
        Click(c.Action);
        ASSERT_TRUE(WaitFor([&] { return !boxes_.Boxes().empty() && !w.Trace().ConversionRunning(); }, 5000));
        ExpectBox("Error", BoxIcon::Error, expected);
        EXPECT_TRUE(C<QWidget>("btConvert")->isEnabled());
    }
}

}  // namespace
}  // namespace vantora
