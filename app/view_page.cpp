#include "app/view_page.h"

#include <QHeaderView>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/command_panels.h"
#include "app/layout_util.h"
#include "view/display_text.h"

namespace vantora {

using namespace layout;

ViewPage::ViewPage(WindowShared& shared)
    : chSat(new TChartView(this)),
      chCn0(new TChartView(this)),
      lbTime(Label(this, "lbTime", "/  /")),
      lbFix(Label(this, "lbFix", "No Fix")),
      lbSkyLegend(Label(this, "lbSkyLegend", "")) {
    setObjectName("tsView");
    chSat->setObjectName("chSat");
    chSat->setMinimumSize(169, 169);
    chSat->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    chCn0->setObjectName("chCn0");
    chCn0->setMinimumSize(260, 89);
    chCn0->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    QFont bold = lbTime->font();
    bold.setBold(true);
    lbTime->setFont(bold);
    lbTime->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbTime->setFixedSize(100, 30);
    lbFix->setFixedHeight(16);

    // Right of the plot: the time, the fix, satellites and DOPs.
    auto* info = Nested(new QGridLayout());
    info->setContentsMargins(0, 2, 0, 0);
    info->setHorizontalSpacing(2);
    info->setVerticalSpacing(3);
    info->addWidget(lbTime, 0, 0, 1, 2);
    info->addWidget(lbFix, 1, 0, 1, 2);
    lvisible = ReadOnly(this, "lvisible", "SAT", info, 2, 0, 60, "12");
    lbFixNo = ReadOnly(this, "lbFixNo", "FIX", info, 3, 0, 60);
    lpdop = ReadOnly(this, "lpdop", "PDOP", info, 4, 0, 60);
    lhdop = ReadOnly(this, "lhdop", "HDOP", info, 5, 0, 60);
    // Under the DOPs, where the collapsed page has room to spare: the sky keeps its size.
    QFont small = lbSkyLegend->font();
    small.setPixelSize(10);
    small.setBold(true);
    lbSkyLegend->setFont(small);
    lbSkyLegend->setTextFormat(Qt::RichText);
    lbSkyLegend->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The names flow in the room the fields leave; they never make the page larger.
    lbSkyLegend->setWordWrap(true);
    lbSkyLegend->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    lbSkyLegend->setVisible(false);
    info->addWidget(lbSkyLegend, 6, 0, 1, 2);
    info->setColumnMinimumWidth(0, 34);
    info->setRowStretch(6, 1);

    // Under the plot: the position, the clock, speed and course.
    auto* fix = Nested(new QGridLayout());
    fix->setHorizontalSpacing(2);
    fix->setVerticalSpacing(1);
    lbLat = ReadOnly(this, "lbLat", "Latitude", fix, 0, 0, 104);
    lbLong = ReadOnly(this, "lbLong", "Longitude", fix, 1, 0, 104);
    lbHigh = ReadOnly(this, "lbHigh", "Altitude", fix, 2, 0, 104);
    lbClkOff = ReadOnly(this, "lbClkOff", "CLOCK", fix, 0, 2, 60);
    leSpeed = ReadOnly(this, "leSpeed", "SPEED", fix, 1, 2, 60);
    leDir = ReadOnly(this, "leDir", "kmh   ", fix, 2, 2, 60);
    fix->setColumnStretch(4, 1);

    auto* live = Nested(new QGridLayout());
    live->setContentsMargins(0, 0, 0, 0);
    live->setHorizontalSpacing(3);
    live->setVerticalSpacing(3);
    live->addWidget(chSat, 0, 0);
    live->addLayout(info, 0, 1);
    live->addLayout(fix, 1, 0, 1, 2);
    live->addWidget(chCn0, 2, 0, 1, 2);
    live->setRowStretch(0, 2);
    live->setRowStretch(2, 1);
    live->setColumnStretch(0, 1);

    commands_ = new CommandPanels(shared);
    commands_->setParent(this);
    commands_->setContentsMargins(2, 0, 0, 0);

    // The expanded view's lower part: the measurement fields, then the memo with the grid over it.
    lower_ = new QWidget(this);
    auto* fields = Nested(new QGridLayout());
    fields->setHorizontalSpacing(2);
    const char* names[4][2] = {{"edMeasUTC", "UTC"}, {"edCB", "CB"}, {"edTB", "TB"}, {"edFB", "FB"}};
    for (int i = 0; i < 4; ++i) {
        TLabeledEdit* e = ReadOnly(lower_, names[i][0], names[i][1], fields, 0, 2 * i, 140);
        e->Label()->setFixedWidth(28);
        e->setVisible(false);
        measurement[static_cast<size_t>(i)] = e;
    }
    fields->setColumnStretch(8, 1);
    moNMEA = new QPlainTextEdit(lower_);
    moNMEA->setObjectName("moNMEA");
    moNMEA->setReadOnly(true);
    moNMEA->setLineWrapMode(QPlainTextEdit::NoWrap);
    moNMEA->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    moNMEA->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    moNMEA->setMaximumBlockCount(MemoLines);
    moNMEA->setMinimumSize(673, 201);

    sgMeas = new QTableWidget(13, 10, lower_);
    sgMeas->setObjectName("sgMeas");
    sgMeas->setMinimumSize(679, 225);
    sgMeas->horizontalHeader()->setVisible(false);
    sgMeas->verticalHeader()->setVisible(false);
    sgMeas->verticalHeader()->setMinimumSectionSize(16);
    sgMeas->verticalHeader()->setDefaultSectionSize(16);
    sgMeas->horizontalHeader()->setDefaultSectionSize(67);
    sgMeas->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    sgMeas->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sgMeas->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sgMeas->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sgMeas->setSelectionMode(QAbstractItemView::NoSelection);
    for (int r = 0; r < 13; ++r) {
        for (int c = 0; c < 10; ++c) {
            auto* item = new QTableWidgetItem();
            item->setFlags(Qt::ItemIsEnabled);
            if (r == 0 || c == 0) item->setBackground(palette().color(QPalette::Button));
            sgMeas->setItem(r, c, item);
        }
    }
    for (int c = 0; c < 10; ++c) sgMeas->item(0, c)->setText(QString::fromLatin1(MeasurementHeadings[c]));
    for (int r = 1; r <= 12; ++r) sgMeas->item(r, 0)->setText(QString::number(r));
    auto* stack = Nested(new QGridLayout());
    stack->addWidget(moNMEA, 0, 0);
    stack->addWidget(sgMeas, 0, 0);
    auto* lowerLayout = new QVBoxLayout(lower_);
    lowerLayout->setContentsMargins(16, 0, 8, 4);
    lowerLayout->setSpacing(3);
    lowerLayout->addLayout(fields);
    lowerLayout->addLayout(stack, 1);

    auto* top = Nested(new QHBoxLayout());
    top->setSpacing(0);
    top->addLayout(live, 1);
    top->addWidget(commands_, 0, Qt::AlignTop);
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);
    page->addLayout(top, 1);
    page->addWidget(lower_, 1);
    SetExpanded(false);
}

void ViewPage::SetExpanded(bool expanded) {
    commands_->setVisible(expanded);
    lower_->setVisible(expanded);
    // The page's minimum size follows at once, even when the page is about to be hidden.
    layout()->activate();
}

QLineEdit* ViewPage::MeasurementField(const std::string& name) const {
    if (name == "lbClkOff") return lbClkOff;
    for (TLabeledEdit* e : measurement)
        if (e->objectName().toStdString() == name) return e;
    return nullptr;
}

}  // namespace vantora
