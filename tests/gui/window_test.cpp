// The main window against the simulated receiver: start-up, pages as the connection switch, the
// live view, the scan and the settings write at close.
#include <sys/stat.h>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QLineSeries>
#include <QListWidget>
#include <QScatterSeries>

#include "tests/support/gui_rig.h"

namespace vantora {
namespace {

using namespace test;

class WindowTest : public GuiRig {
protected:
    bool ShowsLiveFix() {
        const QString fix = C<QLabel>("lbFix")->text();
        return (fix == "2D" || fix.startsWith("3D")) && !C<QLineEdit>("lbLat")->text().isEmpty() &&
               window_->View().SatSeries()->count() + window_->View().UnusedSeries()->count() > 0;
    }
};

// Without a settings file: the Setup page, no port, and the Config page's handlers mirror each choice.
TEST_F(WindowTest, StartsWithoutAPortAndConfigurationHandlersMirrorTheirChoices) {
    TfmTop& w = Open();
    EXPECT_EQ(w.CurrentPage(), TfmTop::tsSetup);
    EXPECT_EQ(w.windowTitle(), "Vantora");
    EXPECT_FALSE(w.Port() || w.ViewTask().Active() || w.LoadTask().Active());
    w.findChild<QAction*>("About1")->trigger();
    ExpectBox("About", BoxIcon::None, "      Vantora GPS Viewer\n\n\n");

    auto* list = C<QListWidget>("clNMEA");
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setCheckState(i == 1 ? Qt::Checked : Qt::Unchecked);
    EXPECT_EQ(C<QLabel>("lbNMEA")->text(), " GLL pNMEA");  // the "GSV" item drives GLL
    C<QCheckBox>("cxPnmea")->click();
    EXPECT_EQ(C<QLabel>("lbNMEA")->text(), " GLL");
    EXPECT_EQ(w.State().Nmea[CfgChecksum], 0);
    list->item(5)->setCheckState(Qt::Checked);
    EXPECT_EQ(C<QLabel>("lbNMEA")->text(), " VTG GLL ZDA");

    C<QCheckBox>("cxDR")->click();
    EXPECT_EQ(C<QLabel>("lbShowDR")->text(), "");
    EXPECT_EQ(w.State().DeadReckoning, 0);
    C<QComboBox>("cbSetBaud")->setCurrentIndex(2);
    EXPECT_EQ(C<QLabel>("lbSetBaud")->text(), "19200");
    C<TRadioGroup>("rgDGPS")->findChild<QAbstractButton*>("rgDGPS_2")->click();
    EXPECT_EQ(C<QLabel>("lbDGPS")->text(), "WAAS");
}

TEST_F(WindowTest, ViewPageOpensThePortAndShowsLiveFixes) {
    StartSim();
    WriteSettings("Engineer=KVDT\n");
    TfmTop& w = Open();

    ASSERT_TRUE(w.RequestPage(TfmTop::tsView));
    EXPECT_EQ(w.CurrentPage(), TfmTop::tsView);
    EXPECT_EQ(w.windowTitle(), "COM1-Vantora");
    ASSERT_TRUE(w.Port());
    EXPECT_TRUE(w.Port().Get()->IsOpen() && w.Port().Get()->Baud() == 4800);
    EXPECT_TRUE(w.ViewTask().Active());
    EXPECT_TRUE(w.findChild<QAction*>("Scan1")->isEnabled());

    ASSERT_TRUE(WaitFor([&] { return ShowsLiveFix() && w.View().FixesShown() >= 3; }, 20000))
        << "no fix shown; lbFix " << C<QLabel>("lbFix")->text().toStdString();
    // The texts' formats belong to their own tests; here each lands in its own field.
    EXPECT_TRUE(QRegularExpression("^ *\\d+\\.\\d{4} [NS]$").match(C<QLineEdit>("lbLat")->text()).hasMatch());
    EXPECT_TRUE(QRegularExpression("^ *\\d+\\.\\d{4} [EW]$").match(C<QLineEdit>("lbLong")->text()).hasMatch());
    EXPECT_TRUE(C<QLineEdit>("leDir")->text().startsWith("N "));

    // Sky plot and bars agree with the text fields: every satellite of the sky has its point and its bar.
    const int inView = C<QLineEdit>("lvisible")->text().toInt();
    const int used = C<QLineEdit>("lbFixNo")->text().toInt();
    EXPECT_GT(inView, 0);
    EXPECT_EQ(std::tuple(w.View().SatSeries()->count(), w.View().UsedLabels().size(),
                         w.View().Cn0Set()->selectedBars().size()),
              std::tuple(used, used, used));
    EXPECT_EQ(std::tuple(w.View().SatSeries()->count() + w.View().UnusedSeries()->count(), w.View().Cn0Set()->count()),
              std::tuple(inView, inView));
    const QString memo = C<QPlainTextEdit>("moNMEA")->toPlainText();
    EXPECT_TRUE(memo.contains("$GPGGA,")) << memo.left(200).toStdString();
    EXPECT_TRUE(Status(0) == "X" || Status(0) == "O");

    C<TClickLabel>("pnExpand")->Clicked();
    EXPECT_EQ(w.size(), QSize(720, 645));
    EXPECT_EQ(C<QLabel>("pnExpand")->text(), " <<=");
    C<TChartView>("chCn0")->DoubleClicked();
    EXPECT_EQ(w.View().ChannelCount(), 16);
    ASSERT_TRUE(WaitFor([&] { return w.View().Cn0Axis()->count() == 16; }, 5000));

    // Trace keeps the receive thread on at the working rate; Reload hands over to the loader.
    ASSERT_TRUE(w.RequestPage(TfmTop::tsTrace));
    EXPECT_EQ(w.size(), QSize(300, 405));
    EXPECT_TRUE(C<QWidget>("pnExpand")->isHidden());
    EXPECT_TRUE(w.ViewTask().Active());
    EXPECT_FALSE(w.findChild<QAction*>("Scan1")->isEnabled());
    ASSERT_TRUE(w.RequestPage(TfmTop::tsReload));
    EXPECT_FALSE(w.ViewTask().Active());
    EXPECT_FALSE(w.LoadTask().Active());  // no Auto Load
    EXPECT_EQ(w.Port().Get()->Baud(), 115200);

    ASSERT_TRUE(w.RequestPage(TfmTop::tsSetup));
    EXPECT_FALSE(w.Port());
    EXPECT_EQ(w.windowTitle(), "Vantora");
    EXPECT_EQ(w.size(), QSize(282, 405));  // the expanded view is not kept

    // A second connection opens the port afresh and the fixes go on.
    const uint32_t shown = w.View().FixesShown();
    ASSERT_TRUE(w.RequestPage(TfmTop::tsView));
    EXPECT_TRUE(WaitFor([&] { return w.View().FixesShown() > shown + 1; }, 10000));
}

TEST_F(WindowTest, PortThatCannotOpenKeepsTheSetupPage) {
    StartSim();
    WriteFile(ini_, "[Setup]\nPortid=1\n[Ports]\nCOM1=" + (dir_ / "absent").string() + "\nCOM2=" +
                        link_.string() + "\n");
    TfmTop& w = Open();

    // The list says which device each port maps to and whether it is there.
    const QAbstractItemModel* ports = C<QComboBox>("cbPort")->model();
    EXPECT_EQ(ports->index(0, 1).data().toString().toStdString(), (dir_ / "absent").string() + " — not present");
    EXPECT_EQ(ports->index(1, 1).data().toString().toStdString(), link_.string());

    // The user's choice of COM1 is the port that is tried.
    C<QComboBox>("cbPort")->setCurrentIndex(0);
    ClickTab(TfmTop::tsView);
    EXPECT_EQ(w.CurrentPage(), TfmTop::tsSetup);
    EXPECT_FALSE(w.Port());
    EXPECT_EQ(w.windowTitle(), "Vantora");
    // The cause is known, so the box says what to do about it.
    ExpectBox("Open com port", BoxIcon::Stop, "Nothing is plugged in at " + (dir_ / "absent").string());

    C<QComboBox>("cbPort")->setCurrentIndex(1);
    ClickTab(TfmTop::tsView);
    EXPECT_EQ(w.CurrentPage(), TfmTop::tsView);
    EXPECT_EQ(w.windowTitle(), "COM2-Vantora");
}

// A receiver talking NMEA at 19200 is found; a binary-only one is not, whatever the rate.
TEST_F(WindowTest, ScanFindsOnlyAReceiverThatTalksNmea) {
    const struct {
        std::vector<std::string> Sim;
        int Seconds;  // per rate; nothing to find: the shortest dwell will do
        bool Found;
        int BaudIndex, PortBaud;  // the last rate tried stays until the next page change
    } cases[] = {{{"--baud", "19200"}, 2, true, 2, 19200}, {{"--binary"}, 1, false, 0, 38400}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Found);
        timings_.ScanSecondsPerRate = c.Seconds;
        StartSim(c.Sim);
        WriteSettings();
        TfmTop& w = Open();
        boxes_.Clear();
        ASSERT_TRUE(w.RequestPage(TfmTop::tsView));
        std::optional<bool> found;
        QObject::connect(&w, &TfmTop::ScanFinished, [&](bool f) { found = f; });
        QStringList marquees;
        w.findChild<QAction*>("Scan1")->trigger();
        ASSERT_TRUE(w.ScanRunning());
        EXPECT_EQ(Status(2), "Start scanning ....");
        EXPECT_FALSE(w.RequestPage(TfmTop::tsSetup));  // the page waits for the scan
        w.StartScan();                               // a second scan is not started
        ASSERT_TRUE(WaitFor(
            [&] {
                if (marquees.isEmpty() || marquees.last() != Status(1)) marquees << Status(1);
                return found.has_value();
            },
            20000));
        EXPECT_EQ(found, c.Found);
        EXPECT_EQ(std::tuple(w.LinkBaudIndex(), w.Port().Get()->Baud()), std::tuple(c.BaudIndex, c.PortBaud));
        EXPECT_EQ(Status(2), "");
        if (c.Found) {
            EXPECT_EQ(C<QComboBox>("cbFWbaud")->currentText(), "19200");
            EXPECT_TRUE(boxes_.Boxes().empty());
            // Two rates of at least a second each before 19200: the marquee moved at least twice.
            marquees.removeAll("");
            EXPECT_GE(marquees.size(), 2);
            for (int i = 0; i < marquees.size(); ++i) {
                EXPECT_EQ(std::tuple(marquees[i].size(), marquees[i].indexOf('*'), marquees[i].count('*')),
                          std::tuple(11, i % 11, 1));
            }
            EXPECT_TRUE(w.RequestPage(TfmTop::tsSetup));
        } else {
            ExpectBox("Information", BoxIcon::Information, "Couldn't connect to GPS ");
        }
        window_.reset();
    }
}

// The command line's rules belong to the settings' own tests; here the window follows them.
TEST_F(WindowTest, CloseWritesPortAndPathAndKeepsTheRest) {
    const std::string original =
        "; hand-written settings\n[Setup]\nPortid=1\nPath=/firmware/old.bin\nEngineer=KVDT\n\n"
        "[Configuration]\nBaud=9600\nGGA=1\n";
    WriteFile(ini_, original);
    TfmTop& w = Open({"COM2", "/images/new.bin"});
    EXPECT_EQ(C<QComboBox>("cbPort")->currentIndex(), 1);
    C<QComboBox>("cbPort")->setCurrentIndex(3);
    // The file changes on disk while the window is open; the close keeps those changes.
    WriteFile(ini_, original + "VTG=1\n");
    EXPECT_TRUE(w.close());
    EXPECT_EQ(Slurp(ini_),
              "; hand-written settings\n[Setup]\nPortid=1\nPath=/images/new.bin\nEngineer=KVDT\nPort=3\n\n"
              "[Configuration]\nBaud=9600\nGGA=1\nVTG=1\n");
    window_.reset();

    // A missing folder is made on the first save (an installed viewer's config folder).
    ini_ = dir_ / "new-folder" / "vantora.INI";
    EXPECT_TRUE(Open().close());
    EXPECT_TRUE(fs::exists(ini_));
    window_.reset();

    // A file that cannot be written never holds the window: one box, and it closes.
    WriteFile(dir_ / "a-file", "");
    ini_ = dir_ / "a-file" / "vantora.INI";
    TfmTop& stuck = Open();
    EXPECT_TRUE(stuck.close() && !stuck.isVisible());
    ExpectBox("Error", BoxIcon::Error, "a-file");
    window_.reset();

    // A FIFO in the settings file's place: refused at start with a box, defaults used, no hang.
    ini_ = dir_ / "fifo.INI";
    ASSERT_EQ(::mkfifo(ini_.c_str(), 0600), 0);
    TfmTop& odd = Open();
    ASSERT_GE(boxes_.Boxes().size(), 1u);
    EXPECT_NE(boxes_.Boxes()[0].Text.find("not a regular file"), std::string::npos) << boxes_.Boxes()[0].Text;
    EXPECT_EQ(odd.PortIndex(), 0);
    EXPECT_TRUE(odd.close());
    boxes_.Clear();
}

}  // namespace
}  // namespace vantora
