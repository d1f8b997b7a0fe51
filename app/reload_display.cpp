#include "app/reload_display.h"

#include <QLabel>
#include <QProgressBar>
#include <algorithm>

namespace vantora {

void ReloadDisplay::ShowState(int state, const char*, const char* statusText, bool) {
    c_.Status->setText(QString::fromLatin1(statusText));
    // The window decides the lock itself: it also knows when an interrupted load is left alone.
    if (StateShown) StateShown(state);
}

void ReloadDisplay::InitProgress(int maximum) {
    c_.brProgress->setRange(0, maximum);
    c_.brProgress->setValue(0);
}

void ReloadDisplay::StepProgress() {
    c_.brProgress->setValue(std::min(c_.brProgress->value() + 1, c_.brProgress->maximum()));
}

void ReloadDisplay::ShowResult(LoadResultText result) {
    c_.lbResult->setText(QString::fromLatin1(ResultText(result)));
    QPalette pal = c_.lbResult->palette();
    pal.setColor(QPalette::WindowText,
                 result == LoadResultText::Pass ? QColor(0x00, 0x80, 0x00) : QColor(0xFF, 0, 0));
    c_.lbResult->setPalette(pal);
    // A request has gone out: the figures of the last load no longer apply.
    if (result == LoadResultText::None) {
        transferLine_.clear();
        noteLine_.clear();
        Render();
    }
}

QString ReloadDisplay::CrcText(const LoaderCrcValues& crc) {
    auto hex = [](uint16_t v) { return QString::asprintf("%04X", v); };
    return "CRC host " + hex(crc.Host) + ", receiver " + hex(crc.Receiver) + ", expected " +
           hex(crc.Expected);
}

void ReloadDisplay::Render() {
    c_.lbTransfer->setText(transferLine_.isEmpty() || noteLine_.isEmpty() ? transferLine_ + noteLine_
                                                                          : transferLine_ + '\n' + noteLine_);
}

void ReloadDisplay::ShowCrc(const LoaderCrcValues& crc) {
    noteLine_ = CrcText(crc);
    Render();
}

QString ReloadDisplay::TransferText(int64_t elapsedMs, uint32_t bytesSent, uint32_t bytesTotal,
                                    double bytesPerSecond) {
    return QString::asprintf("%.1f of %.1f KiB, %.1f s, %.0f bytes/s", bytesSent / 1024.0,
                             bytesTotal / 1024.0, static_cast<double>(elapsedMs) / 1000.0, bytesPerSecond);
}

void ReloadDisplay::ShowTransfer(int64_t elapsedMs, uint32_t bytesSent, uint32_t bytesTotal,
                                 double bytesPerSecond) {
    transferLine_ = TransferText(elapsedMs, bytesSent, bytesTotal, bytesPerSecond);
    Render();
    // The bar steps on whole multiples of 64 bytes and would stop short of its end (at 79% for
    // 32 KiB): once everything is out, it shows so.
    if (bytesTotal > 0 && bytesSent >= bytesTotal) c_.brProgress->setValue(c_.brProgress->maximum());
}

void ReloadDisplay::LoadEnded(const LoadReport& report) {
    // A load that ended without a CRC report says why under the figures; the state texts alone
    // do not tell a silent receiver from a refusal.
    if (!report.Crc && report.End != LoadEnd::Passed) {
        QString why = QString::fromStdString(report.Detail);
        if (report.End == LoadEnd::Interrupted)
            why = QString("Interrupted in ") + QString::fromLatin1(LoaderStateText[report.State]);
        if (!why.isEmpty()) why[0] = why[0].toUpper();
        noteLine_ = why;
        Render();
    }
    if (Ended) Ended(report);
}

std::optional<LoadJob> ReloadDisplay::SnapshotJob(std::string& refusal) {
    if (Snapshot) return Snapshot(refusal);
    refusal = "no firmware image has been chosen";
    return std::nullopt;
}

}  // namespace vantora
