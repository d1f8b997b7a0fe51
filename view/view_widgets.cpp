#include "view/view_widgets.h"

#include <QAbstractButton>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QGraphicsSimpleTextItem>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScatterSeries>
#include <QTableWidget>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "app/controls.h"
#include "view/display_text.h"

namespace vantora {

namespace {

QColor ToColor(Rgb c) {
    return QColor(c.R, c.G, c.B);
}
QString ToQ(const std::string& s) {
    return QString::fromStdString(s);
}

// Plot colours: a dark slate ground on which the white points, yellow circles, green
// circles and maroon labels all stand out.
const QColor PlotGround(0x4A, 0x55, 0x68);
const QColor Maroon(0x80, 0x00, 0x00);
constexpr int CirclePoints = 72;

// A memo line: the bytes as Latin-1, with line breaks and other control bytes of binary
// frames shown as dots so that every item stays on one line.
QString MemoLine(const std::string& text) {
    QString line = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    for (QChar& ch : line)
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7F) ch = QLatin1Char('.');
    return line;
}

// A chart on the plot ground: no legend, margins, rounding or animation.
QChart* NewPlotChart() {
    auto* chart = new QChart();
    chart->legend()->hide();
    chart->setMargins(QMargins(0, 0, 0, 0));
    chart->setBackgroundRoundness(0);
    chart->setBackgroundBrush(PlotGround);
    chart->setPlotAreaBackgroundVisible(false);
    chart->setAnimationOptions(QChart::NoAnimation);
    return chart;
}

// The chart in its view, which shows the plot ground around it without a frame.
void MountChart(QChartView* view, QChart* chart) {
    view->setChart(chart);
    view->setFrameShape(QFrame::NoFrame);
    view->setBackgroundBrush(PlotGround);
}

QScatterSeries* NewPointSeries(QChart* chart, const char* objectName, const char* name,
                               QScatterSeries::MarkerShape shape, qreal size, Rgb color) {
    auto* series = new QScatterSeries(chart);
    series->setObjectName(objectName);
    series->setName(name);
    series->setMarkerShape(shape);
    series->setMarkerSize(size);
    series->setColor(ToColor(color));
    series->setBorderColor(ToColor(color));
    return series;
}

}  // namespace

ViewWidgets::ViewWidgets(const ViewControls& controls, ReceiverTables& tables)
    : c_(controls), tables_(tables) {
    BuildSkyPlot();
    BuildCn0Chart();
}

ViewWidgets::~ViewWidgets() = default;

void ViewWidgets::BuildSkyPlot() {
    sky_ = NewPlotChart();

    auto* ax = new QValueAxis(sky_);
    auto* ay = new QValueAxis(sky_);
    for (QValueAxis* a : {ax, ay}) {
        a->setRange(-90, 90);
        a->setVisible(false);
    }
    sky_->addAxis(ax, Qt::AlignBottom);
    sky_->addAxis(ay, Qt::AlignLeft);

    QPen circlePen(ToColor(CircleYellow));
    circlePen.setWidthF(1.0);
    outerCircle_ = new QLineSeries(sky_);
    outerCircle_->setObjectName("OuterCircleSeries");
    innerCircle_ = new QLineSeries(sky_);
    innerCircle_->setObjectName("InnerCircleSeries");
    for (QLineSeries* s : {outerCircle_, innerCircle_}) s->setPen(circlePen);

    unusedSeries_ =
        NewPointSeries(sky_, "Series1", "Unfixies", QScatterSeries::MarkerShapeTriangle, 6, UnusedWhite);
    satSeries_ =
        NewPointSeries(sky_, "SatSeries", "SatSeries", QScatterSeries::MarkerShapeCircle, 10, UsedGreen);

    for (QXYSeries* s :
         std::initializer_list<QXYSeries*>{outerCircle_, innerCircle_, unusedSeries_, satSeries_}) {
        sky_->addSeries(s);
        s->attachAxis(ax);
        s->attachAxis(ay);
    }
    MountChart(c_.chSat, sky_);
    c_.chSat->setRenderHint(QPainter::Antialiasing);
    // A square plot so that the circles are round and north is straight up.
    const QSize size = c_.chSat->size();
    const qreal side = std::min(size.width(), size.height()) - 4;
    sky_->setPlotArea(QRectF((size.width() - side) / 2, (size.height() - side) / 2, side, side));
    QObject::connect(sky_, &QChart::plotAreaChanged, sky_, [this] {
        PlaceLabels(usedLabels_, satSeries_);
        PlaceLabels(unusedLabels_, unusedSeries_);
    });
}

void ViewWidgets::BuildCn0Chart() {
    cn0_ = NewPlotChart();

    cn0Series_ = new QBarSeries(cn0_);
    cn0Series_->setObjectName("CN0Series");
    cn0Series_->setBarWidth(0.35);
    cn0Series_->setLabelsVisible(true);
    cn0Series_->setLabelsPosition(QAbstractBarSeries::LabelsInsideEnd);
    cn0Set_ = new QBarSet("C/N0", cn0Series_);
    // Unused satellites white, used ones drawn as "selected" bars in green.
    cn0Set_->setColor(ToColor(UnusedWhite));
    cn0Set_->setBorderColor(ToColor(UnusedWhite));
    cn0Set_->setSelectedColor(ToColor(UsedGreen));
    cn0Set_->setLabelColor(QColor(0x20, 0x20, 0x20));
    QFont small = c_.chCn0->font();
    small.setPixelSize(8);
    cn0Set_->setLabelFont(small);
    cn0Series_->append(cn0Set_);
    cn0_->addSeries(cn0Series_);

    cn0Axis_ = new QBarCategoryAxis(cn0_);
    cn0Values_ = new QValueAxis(cn0_);
    cn0Values_->setRange(0, 60);
    cn0Values_->setTickCount(4);
    cn0Values_->setLabelFormat("%d");
    QFont axisFont = c_.chCn0->font();
    axisFont.setPixelSize(9);
    for (QAbstractAxis* a : std::initializer_list<QAbstractAxis*>{cn0Axis_, cn0Values_}) {
        a->setLabelsFont(axisFont);
        a->setLabelsColor(Qt::white);
        a->setTruncateLabels(false);
        a->setGridLineColor(QColor(0x70, 0x7A, 0x8C));
        a->setLinePenColor(QColor(0x90, 0x98, 0xA8));
    }
    cn0_->addAxis(cn0Axis_, Qt::AlignBottom);
    cn0_->addAxis(cn0Values_, Qt::AlignLeft);
    cn0Series_->attachAxis(cn0Axis_);
    cn0Series_->attachAxis(cn0Values_);

    MountChart(c_.chCn0, cn0_);
    ClearCn0();
}

void ViewWidgets::ClearCn0() {
    if (cn0Set_->count() > 0) cn0Set_->remove(0, cn0Set_->count());
    QStringList blanks;
    for (int i = 0; i < channelCount_; ++i) blanks << QString(i + 1, QLatin1Char(' '));
    cn0Axis_->setCategories(blanks);
    categories_ = blanks;
}

void ViewWidgets::SetCircle(QLineSeries* series, double x1, double y1, double x2, double y2) {
    // The ellipse inscribed in the rectangle from (x1, y1) to (x2, y2).
    const double cx = (x1 + x2) / 2, cy = (y1 + y2) / 2;
    const double rx = std::abs(x2 - x1) / 2, ry = std::abs(y2 - y1) / 2;
    QList<QPointF> points;
    points.reserve(CirclePoints + 1);
    for (int i = 0; i <= CirclePoints; ++i) {
        const double a = 2 * M_PI * i / CirclePoints;
        points << QPointF(cx + rx * std::cos(a), cy + ry * std::sin(a));
    }
    series->replace(points);
}

void ViewWidgets::PlaceCircles() {
    SetCircle(innerCircle_, -45, 45, 45, -45);
    SetCircle(outerCircle_, -90, 90, 90, -90);
}

void ViewWidgets::SetPointLabels(PointLabels& labels, QScatterSeries* series, const QStringList& texts,
                                 const QColor& color) {
    if (labels.Items.size() < static_cast<size_t>(texts.size())) {
        QFont font = c_.chSat->font();
        font.setPixelSize(9);
        font.setBold(true);
        while (labels.Items.size() < static_cast<size_t>(texts.size())) {
            auto* item = new QGraphicsSimpleTextItem(sky_);
            item->setFont(font);
            item->setBrush(color);
            item->setZValue(20);
            labels.Items.push_back(item);
        }
    }
    labels.Used = static_cast<int>(texts.size());
    for (size_t i = 0; i < labels.Items.size(); ++i) {
        QGraphicsSimpleTextItem* item = labels.Items[i];
        const bool shown = static_cast<int>(i) < labels.Used;
        if (shown && item->text() != texts[static_cast<int>(i)]) item->setText(texts[static_cast<int>(i)]);
        item->setVisible(shown);
    }
    PlaceLabels(labels, series);
}

void ViewWidgets::PlaceLabels(PointLabels& labels, QScatterSeries* series) {
    const QList<QPointF> points = series->points();
    for (int i = 0; i < labels.Used && i < points.size(); ++i) {
        const QPointF at = sky_->mapToPosition(points[i], series);
        labels.Items[static_cast<size_t>(i)]->setPos(at + QPointF(4, -12));
    }
}

QStringList ViewWidgets::UsedLabels() const {
    QStringList out;
    for (int i = 0; i < usedLabels_.Used; ++i) out << usedLabels_.Items[static_cast<size_t>(i)]->text();
    return out;
}

void ViewWidgets::ShowFix(const NavRecord& rec) {
    ++fixes_;
    const FixTexts t = FormatFix(rec);
    c_.lbTime->setText(ToQ(t.Time));
    if (t.Fix) {
        c_.lbFix->setText(ToQ(t.Fix->first));
        QPalette pal = c_.lbFix->palette();
        pal.setColor(QPalette::WindowText, ToColor(t.Fix->second));
        c_.lbFix->setPalette(pal);
    }
    c_.lbLat->setText(ToQ(t.Latitude));
    c_.lbLong->setText(ToQ(t.Longitude));
    c_.lbHigh->setText(ToQ(t.Altitude));
    c_.lpdop->setText(ToQ(t.Pdop));
    c_.lhdop->setText(ToQ(t.Hdop));
    c_.lvisible->setText(ToQ(t.InView));
    c_.lbFixNo->setText(ToQ(t.Used));
    c_.leSpeed->setText(ToQ(t.Speed));
    c_.leDir->setText(ToQ(t.Course));

    const SkyView sky = ComputeSkyView(rec);
    usedPoints_.clear();
    unusedPoints_.clear();
    QStringList usedTexts, unusedTexts;
    for (const SkyPoint& p : sky.Points) {
        (p.Used ? usedPoints_ : unusedPoints_) << QPointF(p.X, p.Y);
        (p.Used ? usedTexts : unusedTexts) << QString::number(p.Number);
    }
    satSeries_->replace(usedPoints_);
    unusedSeries_->replace(unusedPoints_);
    SetPointLabels(usedLabels_, satSeries_, usedTexts, Qt::white);
    SetPointLabels(unusedLabels_, unusedSeries_, unusedTexts, Maroon);

    // The bar chart is channel-count bars wide; bars past that width are not drawn.
    const int bars = std::min(static_cast<int>(sky.Bars.size()), channelCount_);
    QList<qreal> values;
    QList<int> used;
    QStringList categories;
    for (int i = 0; i < bars; ++i) {
        const Cn0Bar& b = sky.Bars[static_cast<size_t>(i)];
        values << b.Value;
        if (b.Used) used << i;
        QString label = QString::number(b.Number);
        while (categories.contains(label)) label += QLatin1Char(' ');  // axis labels must differ
        categories << label;
    }
    for (int i = bars; i < channelCount_; ++i) categories << QString(i + 1, QLatin1Char(' '));
    if (categories != categories_) {
        cn0Axis_->setCategories(categories);
        categories_ = categories;
    }
    if (cn0Set_->count() > 0) cn0Set_->remove(0, cn0Set_->count());
    cn0Set_->append(values);
    cn0Set_->deselectAllBars();
    if (!used.isEmpty()) cn0Set_->selectBars(used);
}

void ViewWidgets::ShowMessage(const std::string& text) {
    c_.StatusMark->setText(QString::fromLatin1(ActivityMark(messages_++)));
    c_.moNMEA->appendPlainText(MemoLine(text));
}

void ViewWidgets::ShowErrorCount(int errors) {
    c_.edError->setText(QString::number(errors));
}

void ViewWidgets::SetMeasurementVisible(bool visible) {
    c_.lbClkOff->setVisible(visible);
    c_.sgMeas->setVisible(visible);
}

void ViewWidgets::ShowMeasurementGrid(const NavRecord& rec) {
    const MeasurementTexts t = FormatMeasurementGrid(rec);
    for (const auto& [name, text] : t.Fields) {
        SetText(name, text);
        if (name.rfind("ed", 0) == 0)
            if (QWidget* w = Find(ToQ(name))) w->setVisible(true);
    }
    for (int i = 0; i < 12; ++i) {
        if (!t.Rows[static_cast<size_t>(i)]) continue;
        const auto& row = *t.Rows[static_cast<size_t>(i)];
        for (int col = 1; col <= 9; ++col)
            if (QTableWidgetItem* item = c_.sgMeas->item(i + 1, col))
                item->setText(ToQ(row[static_cast<size_t>(col - 1)]));
    }
}

void ViewWidgets::ShowTraceReadProgress(int recordsRead, int logged) {
    const TraceReadTexts t = FormatTraceReadProgress(recordsRead, logged);
    if (auto* bar = qobject_cast<QProgressBar*>(Find("pbReadProgress"))) bar->setValue(t.Position);
    SetText("lbProgress", t.Progress);
}

void ViewWidgets::EndTraceRead() {
    if (OnEndTraceRead) OnEndTraceRead();
}

void ViewWidgets::ShowAck(uint8_t) {
    if (auto* w = qobject_cast<QAbstractButton*>(Find("rbACK"))) w->setChecked(true);
}

void ViewWidgets::ShowNak(uint8_t) {
    if (auto* w = qobject_cast<QAbstractButton*>(Find("rbNACK"))) w->setChecked(true);
}

void ViewWidgets::ShowClockOffset() {
    if (!binary_) return;
    ShowTexts(ClockOffsetTexts(binary_->ClockOffset));
}

void ViewWidgets::ShowRevision() {
    if (!binary_) return;
    ShowTexts(RevisionTexts(binary_->Revision));
}

void ViewWidgets::ShowBuiltInTest() {
    if (!binary_) return;
    ShowTexts(BuiltInTestTexts(binary_->TestResults));
}

void ViewWidgets::ShowEphemerisProgress() {
    const ProgressTexts t = EphemerisProgress(tables_);
    SetProgress("pbReadEphs", "lbReadEphs", t.Maximum, t.Position, t.Label);
}

void ViewWidgets::ShowAlmanacProgress() {
    const ProgressTexts t = AlmanacProgress(tables_);
    SetProgress("pbReadAlmc", "lbReadAlmc", t.Maximum, t.Position, t.Label);
}

void ViewWidgets::ShowModuleId() {
    auto* group = qobject_cast<TRadioGroup*>(Find("rgID"));
    SetText("edModuleID", ModuleIdText(tables_, group ? group->ItemIndex() : 1));
}

void ViewWidgets::ShowNavigationSetting(const uint8_t* payload18) {
    SetMemo("moShowText", NavigationSettingLines(payload18));
}

void ViewWidgets::ShowSystemSetting(const uint8_t* payload48) {
    SetMemo("moShowText", SystemSettingLines(payload48));
}

void ViewWidgets::ShowTraceStatus() {
    if (!binary_) return;
    const TraceStatusTexts t = FormatTraceStatus(binary_->Trace);
    if (t.Status) {
        SetText("lbTrcStatus", *t.Status);
        SetText("lbTraceStatus", *t.Status);
    }
    ShowTexts(t.Fields);
}

void ViewWidgets::ToggleChannels() {
    channelCount_ = channelCount_ == 12 ? 16 : 12;
}

void ViewWidgets::ToggleExpand() {
    expanded_ = !expanded_;
    if (ResizeWindow)
        ResizeWindow(expanded_ ? ExpandedWidth : NormalWidth, expanded_ ? ExpandedHeight : NormalHeight);
    c_.pnExpand->setText(expanded_ ? " <<=" : " =>>");
}

QWidget* ViewWidgets::Find(const QString& name) {
    auto it = found_.find(name);
    if (it != found_.end()) return it.value();
    QWidget* w = c_.Root ? c_.Root->findChild<QWidget*>(name) : nullptr;
    found_.insert(name, w);
    return w;
}

void ViewWidgets::SetText(const std::string& name, const std::string& text) {
    QWidget* w = Find(ToQ(name));
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(ToQ(text));
    else if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(ToQ(text));
    else if (auto* memo = qobject_cast<QPlainTextEdit*>(w))
        memo->setPlainText(ToQ(text));
}

void ViewWidgets::SetProgress(const char* bar, const char* label, int maximum, int position,
                              const std::string& text) {
    if (auto* pb = qobject_cast<QProgressBar*>(Find(bar))) {
        pb->setMaximum(maximum);
        pb->setValue(position);
    }
    SetText(label, text);
}

void ViewWidgets::SetMemo(const char* name, const std::vector<std::string>& lines) {
    auto* memo = qobject_cast<QPlainTextEdit*>(Find(name));
    if (!memo) return;
    memo->clear();
    for (const std::string& line : lines) memo->appendPlainText(ToQ(line));
}

}  // namespace vantora
