// The "&View" page: the live view (sky plot, C/N0 bars, the fix's text fields, the memo of
// received sentences and the measurement grid over it) beside the command part. Collapsed,
// the page shows the live view's upper part only; expanded, the command part and the memo too.
#pragma once

#include <QWidget>
#include <array>
#include <string>

#include "app/window_shared.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTableWidget;

namespace vantora {

class CommandPanels;
class TChartView;
class TLabeledEdit;

class ViewPage : public QWidget {
    Q_OBJECT
public:
    explicit ViewPage(WindowShared& shared);

    static constexpr int MemoLines = 5000;  // moNMEA keeps the newest lines only

    CommandPanels& Commands() const { return *commands_; }
    void SetExpanded(bool expanded);

    // A text field of the measurement texts by its name (lbClkOff, edMeasUTC, edCB, edTB, edFB);
    // null for another name.
    QLineEdit* MeasurementField(const std::string& name) const;

    // The live view's controls, written by the view's display.
    TChartView* const chSat;
    TChartView* const chCn0;
    QLabel* const lbTime;
    QLabel* const lbFix;
    QLabel* const lbSkyLegend;  // the constellations' names in their colours; hidden for one
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
    std::array<TLabeledEdit*, 4> measurement{};  // edMeasUTC, edCB, edTB, edFB
    QPlainTextEdit* moNMEA = nullptr;
    QTableWidget* sgMeas = nullptr;

private:
    CommandPanels* commands_ = nullptr;
    QWidget* lower_ = nullptr;  // the measurement fields, the memo and the grid
};

}  // namespace vantora
