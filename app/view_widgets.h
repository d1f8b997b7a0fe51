// The window's side of the receive thread: ViewDisplay implemented with the View page's
// controls (the sky plot and the C/N0 bars among them), the command panels' reply fields and
// the Trace page's status. Every call runs on the window thread.
#pragma once

#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "protocol/binary.h"
#include "view/display_text.h"
#include "view/view_display.h"

class QBarCategoryAxis;
class QBarSet;
class QChart;
class QChartView;
class QGraphicsSimpleTextItem;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPlainTextEdit;
class QScatterSeries;
class QStackedBarSeries;
class QTableWidget;
class QValueAxis;
class QWidget;

namespace vantora {
class CommandPanels;
class TracePage;
class ViewPage;
}  // namespace vantora

namespace vantora {

class ViewWidgets : public ViewDisplay {
public:
    // statusMark: panel 0 of the status bar; expandMark: the window's pnExpand.
    ViewWidgets(ViewPage& page, TracePage& trace, QLabel* statusMark, QLabel* expandMark,
                ReceiverTables& tables);
    ~ViewWidgets() override;

    // The reply records of the receive thread's binary parser (read while it waits).
    void SetBinary(TBinary* binary) { binary_ = binary; }
    // The window's side of the expand toggle: the page and the window's size.
    std::function<void(bool expanded)> Expanded;
    // The window's status bar: the receiver's device went away or came back.
    std::function<void(const std::string& text)> LinkStateShown;

    void ToggleChannels();
    void ToggleExpand();
    // Back to the collapsed view without the window's side (the page is left).
    void Collapse();
    int ChannelCount() const { return channelCount_; }

    // ViewDisplay
    void ShowMessage(const std::string& text) override;
    void ShowFix(const NavRecord& snapshot, const GnssSky* sky) override;
    void ShowErrorCount(int errors) override;
    void SetMeasurementVisible(bool visible) override;
    void ShowMeasurementGrid(const NavRecord& snapshot) override;
    void ShowTraceReadProgress(int recordsRead, int logged) override;
    void EndTraceRead() override;
    void ShowLinkState(bool present, const std::string& device) override;
    void ShowLogFailure(const std::string& text) override;
    // ReplyDisplay
    void ShowAck(uint8_t command) override;
    void ShowNak(uint8_t command) override;
    void ShowClockOffset() override;
    void ShowRevision() override;
    void ShowBuiltInTest() override;
    void ShowEphemerisProgress() override;
    void ShowAlmanacProgress() override;
    void ShowModuleId() override;
    void ShowNavigationSetting(const uint8_t* payload18) override;
    void ShowSystemSetting(const uint8_t* payload48) override;
    void ShowTraceStatus() override;

    // Reply fields by their names and their texts, e.g. a reply panel emptied by Send before
    // its reply. A name no page has is a fault of the program: it throws std::logic_error.
    void ShowTexts(const ControlTexts& texts);

    // What the plot shows, for tests and tools: GPS's points and bars.
    QScatterSeries* SatSeries() const { return Layer(SystemGps, true).Series; }
    QScatterSeries* UnusedSeries() const { return Layer(SystemGps, false).Series; }
    QBarSet* Cn0Set() const { return cn0Sets_[SystemGps]; }
    QBarCategoryAxis* Cn0Axis() const { return cn0Axis_; }
    // Labels of GPS's used points, in point order.
    QStringList UsedLabels() const;
    uint32_t FixesShown() const { return fixes_; }

private:
    struct PointLabels {
        std::vector<QGraphicsSimpleTextItem*> Items;
        int Used = 0;
    };
    // One system's used or unused satellites: a scatter series with its labels.
    struct PointLayer {
        QScatterSeries* Series = nullptr;
        PointLabels Labels;
        QList<QPointF> Points;
        QStringList Texts;
    };
    PointLayer& Layer(int system, bool used) { return layers_[static_cast<size_t>(system)][used]; }
    const PointLayer& Layer(int system, bool used) const {
        return layers_[static_cast<size_t>(system)][used];
    }
    void BuildSkyPlot();
    void BuildCn0Chart();
    void ClearCn0();
    void SetCircle(QLineSeries* series, double x1, double y1, double x2, double y2);
    // A square plot so that the circles are round and north is straight up.
    void SquarePlotArea();
    void SetPointLabels(PointLabels& labels, QScatterSeries* series, const QStringList& texts,
                        const QColor& color);
    void ShowBars(const SkyView& sky);
    void ShowLegend(const std::vector<LegendEntry>& legend);
    void PlaceLabels(PointLabels& labels, QScatterSeries* series);
    QLineEdit* TextField(const std::string& name) const;

    ViewPage& page_;
    CommandPanels& commands_;
    TracePage& trace_;
    QLabel* statusMark_;
    QLabel* expandMark_;
    ReceiverTables& tables_;
    TBinary* binary_ = nullptr;

    QChart* sky_ = nullptr;
    QLineSeries* innerCircle_ = nullptr;
    QLineSeries* outerCircle_ = nullptr;
    std::array<std::array<PointLayer, 2>, GnssSystemCount> layers_;  // [system][used]
    QString legendText_;

    QChart* cn0_ = nullptr;
    // One bar set per system, stacked: each bar has a value in its own system's set only,
    // so that it takes that system's colours (used bars are the set's selected ones).
    QStackedBarSeries* cn0Series_ = nullptr;
    std::array<QBarSet*, GnssSystemCount> cn0Sets_{};
    QBarCategoryAxis* cn0Axis_ = nullptr;
    QValueAxis* cn0Values_ = nullptr;
    QStringList categories_;
    bool crowded_ = false;

    int channelCount_ = 12;
    bool expanded_ = false;
    uint32_t messages_ = 0;
    uint32_t fixes_ = 0;
};

}  // namespace vantora
