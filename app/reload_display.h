// The Reload page's side of the loader thread: progress, result, CRCs and transfer figures on
// the page, the status texts in the status bar. State changes and the parameters of a load the
// receiver starts by itself are handed to the window, which owns the page's logic.
#pragma once

#include <QString>
#include <functional>

#include "loader/loader_display.h"

class QLabel;
class QProgressBar;

namespace vantora {

struct ReloadControls {
    QLabel* lbResult = nullptr;
    QProgressBar* brProgress = nullptr;
    QLabel* lbTransfer = nullptr;  // elapsed time and rate while sending, then the CRCs
    QLabel* Status = nullptr;      // panel 2 of the status bar
};

class ReloadDisplay : public LoaderDisplay {
public:
    explicit ReloadDisplay(const ReloadControls& controls) : c_(controls) {}

    // Set by the window: the state label, the Write button and the page lock.
    std::function<void(int state)> StateShown;
    // Set by the window: the job of a load the receiver starts by itself (Auto Load).
    std::function<std::optional<LoadJob>(std::string& refusal)> Snapshot;
    // Set by the window or tests: every load's end.
    std::function<void(const LoadReport&)> Ended;

    void ShowState(int state, const char* stateText, const char* statusText, bool pageLocked) override;
    void InitProgress(int maximum) override;
    void StepProgress() override;
    void ShowResult(LoadResultText result) override;
    void ShowCrc(const LoaderCrcValues& crc) override;
    void ShowTransfer(int64_t elapsedMs, uint32_t bytesSent, uint32_t bytesTotal,
                      double bytesPerSecond) override;
    void LoadEnded(const LoadReport& report) override;
    std::optional<LoadJob> SnapshotJob(std::string& refusal) override;

    // The transfer line, e.g. "12.3 s, 11342 bytes/s" (also for tests).
    static QString TransferText(int64_t elapsedMs, uint32_t bytesSent, uint32_t bytesTotal,
                                double bytesPerSecond);
    static QString CrcText(const LoaderCrcValues& crc);

private:
    void Render();

    ReloadControls c_;
    QString transferLine_;  // elapsed time and rate of the load's sending
    QString noteLine_;      // under it: the CRCs, or why the load ended without them
};

}  // namespace vantora
