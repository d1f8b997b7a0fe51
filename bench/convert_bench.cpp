// Trace conversion: throughput on a 100 MB raw file of trace records mixed with NMEA sentences,
// and the longest time the window's event loop goes unserved while the Trace page converts
// that file (a 1 ms timer on the window thread records the largest gap between its ticks).
//
//   vantora-convert-bench [megabytes]     (default 100)
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/top_window.h"
#include "app/trace_page.h"
#include "logging/trace_convert.h"
#include "protocol/frame.h"
#include "tests/support/sample_stream.h"

namespace {

using namespace vantora;
namespace fs = std::filesystem;

// About 1 MiB of receiver output during a read: three trace records, then a GGA sentence.
std::string Chunk() {
    std::string out;
    const std::string gga =
        sample::Sentence("GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,");
    for (int i = 0; out.size() < (1u << 20); ++i) {
        uint8_t payload[18];
        const uint32_t word = (static_cast<uint32_t>(i % 4096) << 20) | static_cast<uint32_t>(i % 86400);
        const int32_t xyz[3] = {4162000 + i % 1000, 855000 - i % 700, 4748000 + i % 300};
        const uint16_t flags = static_cast<uint16_t>(0x3000 | (i & 0x2FF));
        std::memcpy(payload, &word, 4);
        std::memcpy(payload + 4, xyz, 12);
        std::memcpy(payload + 16, &flags, 2);
        uint8_t frame[MaxFrameLength];
        const int n = BuildFrame(IdReport, 0x88, payload, sizeof payload, frame, sizeof frame);
        out.append(reinterpret_cast<char*>(frame), static_cast<size_t>(n));
        if (i % 3 == 2) out += gga;
    }
    return out;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;

    char pattern[] = "/tmp/vantora-convert-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = pattern;
    const fs::path home = fs::current_path();
    fs::current_path(dir);  // the window converts the files of the current folder

    const std::string chunk = Chunk();
    {
        std::ofstream raw(TraceRawFileName, std::ios::binary);
        for (int i = 0; i < megabytes; ++i)
            raw.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
    const double mb = static_cast<double>(fs::file_size(TraceRawFileName)) / 1e6;
    std::printf("raw file: %.1f MB\n", mb);

    // Throughput of the conversion itself, per form; the best of three runs.
    for (int form = 0; form < 2; ++form) {
        double best = 1e9;
        int64_t records = 0;
        for (int run = 0; run < 3; ++run) {
            const auto start = std::chrono::steady_clock::now();
            const TraceConvertOutcome o = RunTraceConversion(TraceRawFileName, TraceTextFileName, form, {});
            best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
            if (o.Status != TraceConvertOutcome::Ok) {
                std::fprintf(stderr, "conversion failed: %s\n", o.Error.c_str());
                return 1;
            }
            records = o.Records;
        }
        std::printf("%-9s %lld records, %.3f s, %.0f MB/s\n", form ? "geodetic" : "ECEF",
                    static_cast<long long>(records), best, mb / best);
    }

    // The same conversion started from the window's Trace page.
    RecordingMessageBoxSink boxes;
    std::ofstream(dir / "vantora.INI") << "[Setup]\nEngineer=KVDT\n";  // the Trace page's level
    TfmTop window((dir / "vantora.INI").string(), {}, boxes);
    window.show();
    window.Pages()->setCurrentIndex(TfmTop::tsTrace);
    auto* tree = window.findChild<QTreeWidget*>("tvTraceCmd");
    tree->setCurrentItem(tree->topLevelItem(3));
    QCoreApplication::processEvents();

    QElapsedTimer sinceTick;
    qint64 longest = 0;
    int ticks = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.nsecsElapsed());
        sinceTick.restart();
        ++ticks;
    });
    for (int form = 0; form < 2; ++form) {
        window.findChild<QAbstractButton*>(form ? "rgSelCvt_1" : "rgSelCvt_0")->click();
        longest = 0;
        ticks = 0;
        tick.start();
        sinceTick.start();
        const auto start = std::chrono::steady_clock::now();
        window.findChild<QAbstractButton*>("btConvert")->click();
        while (window.Trace().ConversionRunning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double took = Seconds(std::chrono::steady_clock::now() - start);
        tick.stop();
        auto* bar = window.findChild<QProgressBar*>("pbConvert");
        std::printf(
            "window %-9s %.3f s (%.0f MB/s), %d ticks of 1 ms, longest gap %.2f ms, bar %d/%d, boxes %zu\n",
            form ? "geodetic" : "ECEF", took, mb / took, ticks, static_cast<double>(longest) / 1e6,
            bar->value(), bar->maximum(), boxes.Boxes().size());
    }

    window.Shutdown();
    fs::current_path(home);
    fs::remove_all(dir);
    return 0;
}
