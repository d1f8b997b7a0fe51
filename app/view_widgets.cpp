#include "app/view_widgets.h"

#include <QAbstractButton>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QEvent>
#include <QGraphicsSimpleTextItem>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScatterSeries>
#include <QStackedBarSeries>
#include <QTableWidget>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "app/command_panels.h"
#include "app/controls.h"
#include "app/trace_page.h"
#include "app/view_page.h"
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

// A system's used or unused satellites; GPS's series keep their names.
QScatterSeries* NewPointSeries(QChart* chart, int system, bool used) {
    const bool gps = system == SystemGps;
    const QString letter = gps ? QString() : QString(QLatin1Char(GnssSystemLetter(system)));
    auto* series = new QScatterSeries(chart);
    series->setObjectName((used ? "SatSeries" : "Series1") + letter);
    series->setName(gps ? (used ? "SatSeries" : "Unfixies")
                        : QString::fromLatin1(GnssSystemName(system)) + (used ? " used" : " unused"));
    series->setMarkerShape(used ? QScatterSeries::MarkerShapeCircle : QScatterSeries::MarkerShapeTriangle);
    // Another system's unused triangle is a little larger, so that its outline shows.
    series->setMarkerSize(used ? 10 : gps ? 6 : 8);
    series->setColor(ToColor(SatelliteFill(system, used)));
    QPen border(ToColor(PointOutline(system, used)));
    border.setWidthF(used || gps ? 1.0 : 2.0);
    series->setPen(border);
    return series;
}

// Runs a function whenever the watched widget's size changes.
class ResizeWatcher : public QObject {
public:
    ResizeWatcher(QObject* parent, std::function<void()> onResize)
        : QObject(parent), onResize_(std::move(onResize)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) onResize_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> onResize_;
};

}  // namespace

ViewWidgets::ViewWidgets(ViewPage& page, TracePage& trace, QLabel* statusMark, QLabel* expandMark,
                         ReceiverTables& tables)
    : page_(page),
      commands_(page.Commands()),
      trace_(trace),
      statusMark_(statusMark),
      expandMark_(expandMark),
      tables_(tables) {
    BuildSkyPlot();
    BuildCn0Chart();
    // Window creation: no bars, and the two elevation circles in place.
    ClearCn0();
    SetCircle(innerCircle_, -45, 45, 45, -45);
    SetCircle(outerCircle_, -90, 90, 90, -90);
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

    // Drawn in this order: the circles, every unused satellite, then the used ones on top.
    std::vector<QXYSeries*> series{outerCircle_, innerCircle_};
    for (bool used : {false, true})
        for (int s = 0; s < GnssSystemCount; ++s)
            series.push_back(Layer(s, used).Series = NewPointSeries(sky_, s, used));
    for (QXYSeries* s : series) {
        sky_->addSeries(s);
        s->attachAxis(ax);
        s->attachAxis(ay);
    }
    MountChart(page_.chSat, sky_);
    page_.chSat->setRenderHint(QPainter::Antialiasing);
    SquarePlotArea();
    page_.chSat->installEventFilter(new ResizeWatcher(page_.chSat, [this] { SquarePlotArea(); }));
    QObject::connect(sky_, &QChart::plotAreaChanged, sky_, [this] {
        for (auto& system : layers_)
            for (PointLayer& layer : system) PlaceLabels(layer.Labels, layer.Series);
    });
}

void ViewWidgets::SquarePlotArea() {
    const QSize size = page_.chSat->size();
    const qreal side = std::min(size.width(), size.height()) - 4;
    sky_->setPlotArea(QRectF((size.width() - side) / 2, (size.height() - side) / 2, side, side));
}

void ViewWidgets::BuildCn0Chart() {
    cn0_ = NewPlotChart();

    cn0Series_ = new QStackedBarSeries(cn0_);
    cn0Series_->setObjectName("CN0Series");
    cn0Series_->setBarWidth(0.35);
    cn0Series_->setLabelsVisible(true);
    cn0Series_->setLabelsPosition(QAbstractBarSeries::LabelsInsideEnd);
    QFont small = page_.chCn0->font();
    small.setPixelSize(8);
    for (int s = 0; s < GnssSystemCount; ++s) {
        // Used satellites are the set's "selected" bars.
        const bool gps = s == SystemGps;
        auto* set =
            new QBarSet(gps ? QStringLiteral("C/N0") : QString::fromLatin1(GnssSystemName(s)), cn0Series_);
        set->setColor(ToColor(SatelliteFill(s, false)));
        QPen border(ToColor(BarOutline(s)));
        border.setWidthF(gps ? 1.0 : 2.0);
        set->setPen(border);
        set->setSelectedColor(ToColor(SatelliteFill(s, true)));
        set->setLabelColor(QColor(0x20, 0x20, 0x20));
        set->setLabelFont(small);
        if (gps) cn0Series_->append(set);  // the others join when their system is in the sky
        cn0Sets_[static_cast<size_t>(s)] = set;
    }
    cn0_->addSeries(cn0Series_);

    cn0Axis_ = new QBarCategoryAxis(cn0_);
    cn0Values_ = new QValueAxis(cn0_);
    cn0Values_->setRange(0, 60);
    cn0Values_->setTickCount(4);
    cn0Values_->setLabelFormat("%d");
    QFont axisFont = page_.chCn0->font();
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

    MountChart(page_.chCn0, cn0_);
}

void ViewWidgets::ClearCn0() {
    for (QBarSet* set : cn0Sets_)
        if (set->count() > 0) set->remove(0, set->count());
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

void ViewWidgets::SetPointLabels(PointLabels& labels, QScatterSeries* series, const QStringList& texts,
                                 const QColor& color) {
    if (labels.Items.size() < static_cast<size_t>(texts.size())) {
        QFont font = page_.chSat->font();
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
    const PointLabels& labels = Layer(SystemGps, true).Labels;
    for (int i = 0; i < labels.Used; ++i) out << labels.Items[static_cast<size_t>(i)]->text();
    return out;
}

void ViewWidgets::ShowFix(const NavRecord& rec, const GnssSky* skySnapshot) {
    ++fixes_;
    const FixTexts t = FormatFix(rec, skySnapshot);
    page_.lbTime->setText(ToQ(t.Time));
    if (t.Fix) {
        page_.lbFix->setText(ToQ(t.Fix->first));
        QPalette pal = page_.lbFix->palette();
        pal.setColor(QPalette::WindowText, ToColor(t.Fix->second));
        page_.lbFix->setPalette(pal);
    }
    page_.lbLat->setText(ToQ(t.Latitude));
    page_.lbLong->setText(ToQ(t.Longitude));
    page_.lbHigh->setText(ToQ(t.Altitude));
    page_.lpdop->setText(ToQ(t.Pdop));
    page_.lhdop->setText(ToQ(t.Hdop));
    page_.lvisible->setText(ToQ(t.InView));
    page_.lbFixNo->setText(ToQ(t.Used));
    page_.leSpeed->setText(ToQ(t.Speed));
    page_.leDir->setText(ToQ(t.Course));

    const SkyView sky = ComputeSkyView(rec, skySnapshot, channelCount_);
    for (auto& system : layers_)
        for (PointLayer& layer : system) layer.Points.clear(), layer.Texts.clear();
    for (const SkyPoint& p : sky.Points) {
        if (p.System >= GnssSystemCount) continue;
        PointLayer& layer = Layer(p.System, p.Used);
        layer.Points << QPointF(p.X, p.Y);
        layer.Texts << ToQ(p.Label);
    }
    for (auto& system : layers_) {
        for (bool used : {false, true}) {
            PointLayer& layer = system[used];
            // Most systems are absent most of the time: leave their empty series alone.
            if (layer.Points.isEmpty() && layer.Series->count() == 0) continue;
            layer.Series->replace(layer.Points);
            SetPointLabels(layer.Labels, layer.Series, layer.Texts, used ? QColor(Qt::white) : Maroon);
        }
    }
    ShowBars(sky);
    ShowLegend(sky.Legend);
}

void ViewWidgets::ShowBars(const SkyView& sky) {
    // Bars past the chart's width are not drawn.
    const int bars = std::min(static_cast<int>(sky.Bars.size()), sky.Width);
    std::array<QList<qreal>, GnssSystemCount> values;
    std::array<QList<int>, GnssSystemCount> used;
    std::array<bool, GnssSystemCount> present{};
    for (const Cn0Bar& b : sky.Bars)
        if (b.System < GnssSystemCount) present[b.System] = true;
    for (int s = 0; s < GnssSystemCount; ++s)
        if (present[s] || s == SystemGps) values[s].fill(0, bars);
    QStringList categories;
    for (int i = 0; i < bars; ++i) {
        const Cn0Bar& b = sky.Bars[static_cast<size_t>(i)];
        if (b.System < GnssSystemCount) {
            values[b.System][i] = b.Value;
            if (b.Used) used[b.System] << i;
        }
        QString label = ToQ(b.Label);
        while (categories.contains(label)) label += QLatin1Char(' ');  // axis labels must differ
        categories << label;
    }
    for (int i = bars; i < sky.Width; ++i) categories << QString(i + 1, QLatin1Char(' '));
    if (categories != categories_) {
        cn0Axis_->setCategories(categories);
        categories_ = categories;
    }
    // More bars than the widest channel chart leave no room for numbers across: the values go
    // (the bars' heights show them) and the names stand upright.
    const bool crowded = sky.Width > 16;
    if (crowded != crowded_) {
        crowded_ = crowded;
        cn0Series_->setLabelsVisible(!crowded);
        cn0Axis_->setLabelsAngle(crowded ? -90 : 0);
    }
    for (size_t s = 0; s < cn0Sets_.size(); ++s) {
        QBarSet* set = cn0Sets_[s];
        // Only the systems in the sky stack their sets (GPS's always stays): every set the
        // chart holds has a bar item for every category.
        const bool shown = s == SystemGps || present[s];
        if (shown != cn0Series_->barSets().contains(set)) {
            if (shown) {
                cn0Series_->append(set);
            } else {
                cn0Series_->take(set);
                set->setParent(cn0Series_);  // kept for the system's return
            }
        }
        if (set->count() > 0) set->remove(0, set->count());
        set->append(values[s]);
        set->deselectAllBars();
        if (!used[s].isEmpty()) set->selectBars(used[s]);
    }
}

void ViewWidgets::ShowLegend(const std::vector<LegendEntry>& legend) {
    QStringList lines;
    for (const LegendEntry& e : legend)
        lines << QString("<span style=\"color:%1\">%2</span>").arg(ToColor(e.Color).name(), ToQ(e.Name));
    const QString text = lines.join("&nbsp; ");
    if (text == legendText_) return;
    legendText_ = text;
    page_.lbSkyLegend->setText(text);
    page_.lbSkyLegend->setVisible(!legend.empty());
}

void ViewWidgets::ShowMessage(const std::string& text) {
    statusMark_->setText(QString::fromLatin1(ActivityMark(messages_++)));
    page_.moNMEA->appendPlainText(MemoLine(text));
}

void ViewWidgets::ShowErrorCount(int errors) {
    commands_.ErrorCountField()->setText(QString::number(errors));
}

void ViewWidgets::SetMeasurementVisible(bool visible) {
    page_.lbClkOff->setVisible(visible);
    page_.sgMeas->setVisible(visible);
}

void ViewWidgets::ShowMeasurementGrid(const NavRecord& rec) {
    const MeasurementTexts t = FormatMeasurementGrid(rec);
    for (const auto& [name, text] : t.Fields) {
        QLineEdit* field = TextField(name);
        field->setText(ToQ(text));
        if (name.rfind("ed", 0) == 0) field->setVisible(true);
    }
    for (int i = 0; i < 12; ++i) {
        if (!t.Rows[static_cast<size_t>(i)]) continue;
        const auto& row = *t.Rows[static_cast<size_t>(i)];
        for (int col = 1; col <= 9; ++col)
            if (QTableWidgetItem* item = page_.sgMeas->item(i + 1, col))
                item->setText(ToQ(row[static_cast<size_t>(col - 1)]));
    }
}

void ViewWidgets::ShowTraceReadProgress(int recordsRead, int logged) {
    trace_.ShowReadProgress(FormatTraceReadProgress(recordsRead, logged));
}

void ViewWidgets::ShowLinkState(bool present, const std::string& device) {
    if (LinkStateShown) LinkStateShown(LinkStateText(present, device));
}

void ViewWidgets::EndTraceRead() {
    trace_.TraceReadComplete();
}

void ViewWidgets::ShowLogFailure(const std::string& text) {
    commands_.LogFailed(text);
}

void ViewWidgets::ShowAck(uint8_t) {
    commands_.ShowReply(true);
}

void ViewWidgets::ShowNak(uint8_t) {
    commands_.ShowReply(false);
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
    commands_.ShowEphemerisProgress(EphemerisProgress(tables_));
}

void ViewWidgets::ShowAlmanacProgress() {
    commands_.ShowAlmanacProgress(AlmanacProgress(tables_));
}

void ViewWidgets::ShowModuleId() {
    commands_.ShowModuleId(ModuleIdText(tables_, commands_.ModuleIdItem()));
}

void ViewWidgets::ShowNavigationSetting(const uint8_t* payload18) {
    commands_.ShowSettingLines(NavigationSettingLines(payload18));
}

void ViewWidgets::ShowSystemSetting(const uint8_t* payload48) {
    commands_.ShowSettingLines(SystemSettingLines(payload48));
}

void ViewWidgets::ShowTraceStatus() {
    if (!binary_) return;
    const TraceStatusTexts t = FormatTraceStatus(binary_->Trace);
    trace_.ShowStatus(t.Status);
    commands_.ShowTraceStatus(t.Status);
    ShowTexts(t.Fields);
}

void ViewWidgets::ToggleChannels() {
    channelCount_ = channelCount_ == 12 ? 16 : 12;
}

void ViewWidgets::ToggleExpand() {
    expanded_ = !expanded_;
    if (Expanded) Expanded(expanded_);
    expandMark_->setText(expanded_ ? " <<=" : " =>>");
}

void ViewWidgets::Collapse() {
    expanded_ = false;
    page_.SetExpanded(false);
}

QLineEdit* ViewWidgets::TextField(const std::string& name) const {
    QLineEdit* field = page_.MeasurementField(name);
    if (!field) field = trace_.StatusField(name);
    if (!field) field = qobject_cast<QLineEdit*>(commands_.ReplyField(name));
    if (!field) throw std::logic_error("no text field " + name + " for the receiver's texts");
    return field;
}

void ViewWidgets::ShowTexts(const ControlTexts& texts) {
    for (const auto& [name, text] : texts) TextField(name)->setText(ToQ(text));
}

}  // namespace vantora
