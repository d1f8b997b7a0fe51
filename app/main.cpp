// Entry: the application, the main window and the message loop.
#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QMessageBox>
#include <QScatterSeries>
#include <QTimer>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "app/command_panels.h"
#include "app/file_places.h"
#include "app/qt_platform.h"
#include "app/top_window.h"
#include "app/view_page.h"
#include "app/view_widgets.h"
#include "protocol/binary.h"

namespace {

using vantora::TfmTop;

// Screenshot hook for scripts/screenshot.sh, off unless VANTORA_SCREENSHOT names a PNG file:
// shortly after start the window switches to the page VANTORA_SCREENSHOT_PAGE (setup, view,
// reload or trace; default view), waits until the View page has drawn a fix with
// satellites (at most 30 s), writes the window's picture and closes the window. With
// VANTORA_SCREENSHOT_EXPANDED naming a second file it then expands the view, waits for a few
// more sentences and writes that picture too. VANTORA_SCREENSHOT_SEND="CMD[:control=value,...]"
// (for example "0x13:rgOutputFormat=2") selects a command once the page is shown, sets the
// given panel controls and presses Send, as a user would, before the wait.
// VANTORA_SCREENSHOT_FIX="3D" waits for a fix whose text starts so (a 2D fix does not do).
void SendForScreenshot(TfmTop& window, const QString& request) {
    const QStringList parts = request.split(QLatin1Char(':'));
    bool ok = false;
    const int cmd = parts[0].toInt(&ok, 0);
    vantora::CommandPanels& commands = window.Commands();
    if (!ok || !commands.SelectCommand(cmd)) {
        std::fprintf(stderr, "screenshot: no command %s in the tree\n", qPrintable(parts[0]));
        return;
    }
    const QStringList values = parts.size() > 1 ? parts[1].split(',', Qt::SkipEmptyParts) : QStringList();
    for (const QString& assignment : values) {
        const qsizetype eq = assignment.indexOf('=');
        std::string error = QString("'%1' is not control=value").arg(assignment).toStdString();
        if (eq <= 0 || !commands.SetPanelControl(assignment.left(eq).toStdString(),
                                               assignment.mid(eq + 1).toStdString(), error))
            std::fprintf(stderr, "screenshot: %s\n", error.c_str());
    }
    commands.SendCommand();
}

void InstallScreenshotHook(TfmTop& window) {
    const QString path = qEnvironmentVariable("VANTORA_SCREENSHOT");
    if (path.isEmpty()) return;
    const QString expandedPath = qEnvironmentVariable("VANTORA_SCREENSHOT_EXPANDED");
    const QString pageName = qEnvironmentVariable("VANTORA_SCREENSHOT_PAGE", "view").toLower();
    const QStringList names = {"setup", "view", "reload", "config", "trace"};
    const int page = names.indexOf(pageName);
    const QString send = qEnvironmentVariable("VANTORA_SCREENSHOT_SEND");
    const QString wantedFix = qEnvironmentVariable("VANTORA_SCREENSHOT_FIX");

    auto grab = [&window](const QString& file) {
        if (!window.grab().save(file, "PNG"))
            std::fprintf(stderr, "screenshot: cannot write %s\n", qPrintable(file));
    };
    auto finish = [&window, grab, expandedPath] {
        if (expandedPath.isEmpty()) {
            window.close();
            return;
        }
        window.View().ToggleExpand();
        QTimer::singleShot(2500, &window, [&window, grab, expandedPath] {
            grab(expandedPath);
            window.close();
        });
    };

    QTimer::singleShot(500, &window, [&window, page, path, grab, finish, send, wantedFix] {
        if (page > 0 && !window.RequestPage(page)) {
            std::fprintf(stderr, "screenshot: the page could not be shown\n");
            window.close();
            return;
        }
        if (!send.isEmpty()) SendForScreenshot(window, send);
        auto* poll = new QTimer(&window);
        const qint64 started = QDateTime::currentMSecsSinceEpoch();
        QObject::connect(poll, &QTimer::timeout, &window,
                         [&window, poll, page, path, grab, finish, started, wantedFix] {
            const bool waited = QDateTime::currentMSecsSinceEpoch() - started > 30000;
            const QString fix = window.Live().lbFix->text();
            const bool fixed = wantedFix.isEmpty() ? fix == "2D" || fix.startsWith("3D") : fix.startsWith(wantedFix);
            const bool drawn = fixed && window.View().FixesShown() >= 3 &&
                               window.View().SatSeries()->count() + window.View().UnusedSeries()->count() > 0;
            if (page == TfmTop::tsView && !drawn && !waited) return;
            if (!drawn && page == TfmTop::tsView) std::fprintf(stderr, "screenshot: no fix within 30 s\n");
            poll->stop();
            grab(path);
            finish();
        });
        poll->start(250);
    });
}

int PrintHelp(const std::string& settingsPath) {
    const vantora::PlaceEnvironment env = vantora::PlaceEnvironment::FromEnvironment();
    std::string error;
    const std::string data = vantora::ChooseDataFolder(env, error);
    std::printf(
        "Usage: vantora [PORT [FIRMWARE]]\n"
        "Vantora GPS Viewer 1.8b: the live output of a GPS receiver module on a serial port, its\n"
        "commands and replies, firmware upload, its trace buffer, ephemerides and almanacs.\n"
        "\n"
        "Arguments:\n"
        "  PORT          COM1..COM12, any case; the \"Ports\" section of the settings file maps each\n"
        "                to a device (default COM1..COM4 /dev/ttyUSB0..3, COM5..COM8 /dev/ttyACM0..3,\n"
        "                COM9..COM12 /dev/ttyS0..3)\n"
        "  FIRMWARE      the firmware image the Reload page loads\n"
        "\n"
        "Options:\n"
        "  -h, --help    print this text and exit\n"
        "\n"
        "Files:\n"
        "  settings      vantora.INI beside the executable when it exists, else\n"
        "                $XDG_CONFIG_HOME/vantora/vantora.INI (default ~/.config/vantora/vantora.INI)\n"
        "  data          tracelog.tmp, tracedata.log, ephs.dat, almc.dat: in the working folder when\n"
        "                it is writable, else in $XDG_DATA_HOME/vantora (default ~/.local/share/vantora)\n"
        "\n"
        "In use now:\n"
        "  settings      %s\n"
        "  data          %s\n",
        settingsPath.c_str(), data.empty() ? error.c_str() : data.c_str());
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string settingsPath =
        vantora::ChooseSettingsPath(vantora::ExecutablePath(argv[0]), vantora::PlaceEnvironment::FromEnvironment());
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return PrintHelp(settingsPath);

    QApplication app(argc, argv);
    QApplication::setApplicationName("Vantora");
    QGuiApplication::setApplicationDisplayName("Vantora");
    try {
        vantora::QtMessageBoxSink boxes;
        std::vector<std::string> args;
        const QStringList arguments = QCoreApplication::arguments();
        for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments[i].toStdString());
        TfmTop window(settingsPath, args, boxes);
        boxes.SetParent(&window);
        window.show();
        InstallScreenshotHook(window);
        app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Vantora", QString::fromLocal8Bit(e.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, "Vantora", QString());
    }
    return 0;
}
