// Window-thread cost of the live view's two frequent displays: one ShowFix with 16
// satellites in view (and with a sky of 40 satellites of four constellations), and one memo
// line with the memo at its 5000-line limit.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/controls.h"
#include "app/top_window.h"
#include "app/view_page.h"
#include "app/view_widgets.h"
#include "protocol/gnss_sky.h"

namespace {

using namespace vantora;

RecordingMessageBoxSink boxes;
// Made by the first benchmark; main destroys it while the application still exists.
std::unique_ptr<TfmTop> window;

TfmTop& Window() {
    if (!window) {
        window =
            std::make_unique<TfmTop>("/nonexistent/vantora-bench.INI", std::vector<std::string>{}, boxes);
        window->show();
        // The View page without a port: the receive thread idles, the controls are shown.
        window->Pages()->setCurrentIndex(TfmTop::tsView);
        window->View().ToggleExpand();
        QCoreApplication::processEvents();
    }
    return *window;
}

NavRecord SixteenSatellites(int second) {
    NavRecord r{};
    r.Year = 2024;
    r.Month = 5;
    r.Day = 17;
    r.Hour = 12;
    r.Minute = 30;
    r.Second = second % 60;
    r.FixMode = Mode3D;
    r.Latitude = 4807.038f;
    r.LatitudeHemisphere = 'N';
    r.Longitude = 1131.0f;
    r.LongitudeHemisphere = 'E';
    r.Altitude = 545;
    r.Dop1 = 1.8f;
    r.Dop2 = 1.0f;
    r.Speed = 12;
    r.Course = 84;
    r.SatellitesInView = 16;
    r.SatellitesUsed = 8;
    for (int k = 0; k < 16; ++k) {
        const int n = 2 + k * 3;
        r.InView[k] = n;
        SatelliteEntry& s = r.Satellites[n - 1];
        s.Elevation = (k * 11 + second) % 90;
        s.Azimuth = (k * 23 + second * 2) % 360;
        s.Cn0 = 30 + (k * 7 + second) % 20;
        s.Used = k % 2;
    }
    return r;
}

// A multi-constellation receiver's sky: 12 GPS, 10 GLONASS, 10 Galileo and 8 BeiDou satellites.
GnssSky FortySatellites(int second) {
    GnssSky sky{};
    sky.Quality = GgaGps;
    const int perSystem[] = {12, 10, 10, 8};
    for (int system = 0; system < 4; ++system) {
        for (int k = 0; k < perSystem[system]; ++k) {
            SkySatellite& s = sky.Satellites[sky.Count++];
            s.System = static_cast<uint8_t>(system);
            s.Number = static_cast<int16_t>(1 + k * 3 + system);
            s.Elevation = static_cast<int16_t>((k * 11 + system * 7 + second) % 90);
            s.Azimuth = static_cast<int16_t>((k * 37 + system * 90 + second * 2) % 360);
            s.Cn0 = static_cast<int16_t>(25 + (k * 7 + system + second) % 25);
            s.Used = k % 3 != 2;
            sky.Used = static_cast<int16_t>(sky.Used + s.Used);
        }
    }
    sky.InView = sky.Count;
    return sky;
}

// ShowFix of the 16-satellite record, with the 40-satellite sky or without a sky (binary), and
// with or without the repaint that follows on the window thread.
void BM_ShowFix(benchmark::State& state, bool withSky, bool paint) {
    TfmTop& w = Window();
    NavRecord records[2] = {SixteenSatellites(1), SixteenSatellites(2)};
    GnssSky skies[2] = {FortySatellites(1), FortySatellites(2)};
    int i = 0;
    for (auto _ : state) {
        w.View().ShowFix(records[i & 1], withSky ? &skies[i & 1] : nullptr);
        ++i;
        if (paint) QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
}
BENCHMARK_CAPTURE(BM_ShowFix, 16Satellites, false, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ShowFix, 16SatellitesAndPaint, false, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ShowFix, 40SatellitesOf4Systems, true, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ShowFix, 40SatellitesOf4SystemsAndPaint, true, true)->Unit(benchmark::kMicrosecond);

void BM_ShowMessageAt5000Lines(benchmark::State& state) {
    TfmTop& w = Window();
    QPlainTextEdit* memo = w.Live().moNMEA;
    const std::string line = "$GPGSV,3,1,12,19,80,019,42,32,67,344,41,18,57,178,41,27,51,249,39*74";
    while (memo->blockCount() < ViewPage::MemoLines) w.View().ShowMessage(line);
    QCoreApplication::processEvents();
    for (auto _ : state) w.View().ShowMessage(line);
    state.counters["lines"] = memo->blockCount();
    QCoreApplication::processEvents();
}
BENCHMARK(BM_ShowMessageAt5000Lines)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    window.reset();
    return 0;
}
