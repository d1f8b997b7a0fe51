// The View page's side of the receive thread: ViewDisplay implemented with the window's
// controls, the sky plot and the C/N0 bars. Every call runs on the window thread.
#pragma once

#include <QColor>
#include <QHash>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

#include "protocol/binary.h"
#include "view/display_text.h"
#include "view/view_display.h"

class QBarCategoryAxis;
class QBarSeries;
class QBarSet;
class QChart;
class QChartView;
class QGraphicsSimpleTextItem;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPlainTextEdit;
class QScatterSeries;
class QTableWidget;
class QValueAxis;
class QWidget;

namespace vantora {

// The controls the live view writes; all belong to the window.
struct ViewControls {
    QWidget* Root = nullptr;  // the window: reply controls are found by name under it
    QLabel* lbTime = nullptr;
    QLabel* lbFix = nullptr;
    QLineEdit* lbLat = nullptr;
    QLineEdit* lbLong = nullptr;
    QLineEdit* lbHigh = nullptr;
    QLineEdit* lpdop = nullptr;
    QLineEdit* lhdop = nullptr;
    QLineEdit* lvisible = nullptr;
    QLineEdit* lbFixNo = nullptr;
    QLineEdit* leSpeed = nullptr;
    QLineEdit* leDir = nullptr;
    QLineEdit* lbClkOff = nullptr;
    QLineEdit* edError = nullptr;
    QChartView* chSat = nullptr;
    QChartView* chCn0 = nullptr;
    QPlainTextEdit* moNMEA = nullptr;
    QTableWidget* sgMeas = nullptr;
    QLabel* StatusMark = nullptr;  // panel 0 of the status bar
    QLabel* pnExpand = nullptr;
};

class ViewWidgets : public ViewDisplay {
public:
    static constexpr int MemoLines = 5000;  // moNMEA keeps the newest lines only
    // The window's size, and its size with the View page expanded.
    static constexpr int NormalWidth = 282;
    static constexpr int NormalHeight = 405;
    static constexpr int ExpandedWidth = 720;
    static constexpr int ExpandedHeight = 645;

    ViewWidgets(const ViewControls& controls, ReceiverTables& tables);
    ~ViewWidgets() override;

    // The reply records of the receive thread's binary parser (read while it waits).
    void SetBinary(TBinary* binary) { binary_ = binary; }
    // The window's size change for the expand toggle.
    std::function<void(int width, int height)> ResizeWindow;
    // The window's end of a trace read.
    std::function<void()> OnEndTraceRead;

    // Window creation: no bars, and the two elevation circles in place.
    void ClearCn0();
    void SetCircle(QLineSeries* series, double x1, double y1, double x2, double y2);
    void PlaceCircles();

    void ToggleChannels();
    void ToggleExpand();
    int ChannelCount() const { return channelCount_; }

    // ViewDisplay
    void ShowMessage(const std::string& text) override;
    void ShowFix(const NavRecord& snapshot) override;
    void ShowErrorCount(int errors) override;
    void SetMeasurementVisible(bool visible) override;
    void ShowMeasurementGrid(const NavRecord& snapshot) override;
    void ShowTraceReadProgress(int recordsRead, int logged) override;
    void EndTraceRead() override;
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

    // Controls by name and their texts, e.g. a reply panel emptied by Send before its reply.
    void ShowTexts(const ControlTexts& texts) {
        for (const auto& [name, text] : texts) SetText(name, text);
    }

    // What the plot shows, for tests and tools.
    QScatterSeries* SatSeries() const { return satSeries_; }
    QScatterSeries* UnusedSeries() const { return unusedSeries_; }
    QLineSeries* InnerCircle() const { return innerCircle_; }
    QLineSeries* OuterCircle() const { return outerCircle_; }
    QBarSet* Cn0Set() const { return cn0Set_; }
    QBarCategoryAxis* Cn0Axis() const { return cn0Axis_; }
    // Labels of the used points, in point order.
    QStringList UsedLabels() const;
    uint32_t FixesShown() const { return fixes_; }

private:
    struct PointLabels {
        std::vector<QGraphicsSimpleTextItem*> Items;
        int Used = 0;
    };
    void BuildSkyPlot();
    void BuildCn0Chart();
    void SetPointLabels(PointLabels& labels, QScatterSeries* series, const QStringList& texts,
                        const QColor& color);
    void PlaceLabels(PointLabels& labels, QScatterSeries* series);
    void SetText(const std::string& name, const std::string& text);
    QWidget* Find(const QString& name);
    void SetProgress(const char* bar, const char* label, int maximum, int position, const std::string& text);
    void SetMemo(const char* name, const std::vector<std::string>& lines);

    ViewControls c_;
    ReceiverTables& tables_;
    TBinary* binary_ = nullptr;

    QChart* sky_ = nullptr;
    QScatterSeries* satSeries_ = nullptr;
    QScatterSeries* unusedSeries_ = nullptr;
    QLineSeries* innerCircle_ = nullptr;
    QLineSeries* outerCircle_ = nullptr;
    PointLabels usedLabels_, unusedLabels_;
    QList<QPointF> usedPoints_, unusedPoints_;

    QChart* cn0_ = nullptr;
    QBarSeries* cn0Series_ = nullptr;
    QBarSet* cn0Set_ = nullptr;
    QBarCategoryAxis* cn0Axis_ = nullptr;
    QValueAxis* cn0Values_ = nullptr;
    QStringList categories_;

    QHash<QString, QWidget*> found_;
    int channelCount_ = 12;
    bool expanded_ = false;
    uint32_t messages_ = 0;
    uint32_t fixes_ = 0;
};

}  // namespace vantora
