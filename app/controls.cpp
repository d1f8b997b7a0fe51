#include "app/controls.h"

#include <QButtonGroup>
#include <QEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QRadioButton>
#include <QShortcutEvent>
#include <QWheelEvent>

namespace vantora {

// ---- TLabeledEdit ----

TLabeledEdit::TLabeledEdit(QWidget* parent, const QString& name, const QString& caption, const QString& text)
    : QLineEdit(text, parent), label_(new QLabel(caption, parent)) {
    setObjectName(name);
    label_->setObjectName(name + "Label");
    label_->setBuddy(this);
}

void TLabeledEdit::PlaceLeft(int x, int y, int labelWidth, int editWidth, int height) {
    label_->setGeometry(x, y, labelWidth - 2, height);
    label_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setGeometry(x + labelWidth, y, editWidth, height);
}

void TLabeledEdit::PlaceAbove(int x, int y, int width, int height) {
    label_->setGeometry(x, y, width, 14);
    label_->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    setGeometry(x, y + 14, width, height);
}

void TLabeledEdit::setVisible(bool visible) {
    QLineEdit::setVisible(visible);
    label_->setVisible(visible);
}

void TLabeledEdit::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) label_->setEnabled(isEnabled());
    QLineEdit::changeEvent(event);
}

// ---- TRadioGroup ----

TRadioGroup::TRadioGroup(QWidget* parent, const QString& name, const QString& title, const QStringList& items,
                         int itemIndex, int columns)
    : QGroupBox(title, parent),
      items_(items),
      columns_(columns < 1 ? 1 : columns),
      group_(new QButtonGroup(this)),
      grid_(new QGridLayout(this)) {
    setObjectName(name);
    grid_->setContentsMargins(6, title.isEmpty() ? 4 : 2, 4, 2);
    grid_->setHorizontalSpacing(6);
    grid_->setVerticalSpacing(0);
    group_->setExclusive(true);
    connect(group_, &QButtonGroup::idClicked, this, &TRadioGroup::Clicked);
    Rebuild();
    SetItemIndex(itemIndex);
}

void TRadioGroup::Rebuild() {
    for (QAbstractButton* b : group_->buttons()) {
        group_->removeButton(b);
        delete b;
    }
    const int n = Count();
    const int rows = (n + columns_ - 1) / columns_;
    for (int i = 0; i < n; ++i) {
        auto* b = new QRadioButton(items_[i], this);
        b->setObjectName(objectName() + "_" + QString::number(i));
        group_->addButton(b, i);
        grid_->addWidget(b, rows ? i % rows : 0, rows ? i / rows : 0);
    }
}

int TRadioGroup::ItemIndex() const {
    return group_->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (QAbstractButton* b = group_->button(index)) {
        b->setChecked(true);
        return;
    }
    // No item: an exclusive group cannot uncheck its last button directly.
    if (QAbstractButton* checked = group_->checkedButton()) {
        group_->setExclusive(false);
        checked->setChecked(false);
        group_->setExclusive(true);
    }
}

void TRadioGroup::SetItems(const QStringList& items) {
    const int index = ItemIndex();
    items_ = items;
    Rebuild();
    SetItemIndex(index < Count() ? index : -1);
}

// ---- TClickLabel, TChartView ----

void TClickLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        event->accept();
        emit Clicked();
        return;
    }
    QLabel::mousePressEvent(event);
}

void TChartView::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    emit DoubleClicked();
}

// ---- TPageBar, TPageControl ----

namespace {

// Narrow tabs, so that the row of four pages leaves room for the expand toggle beside it.
class CompactTabStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_TabBarTabHSpace) return 12;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

}  // namespace

TPageBar::TPageBar(TPageControl* owner) : QTabBar(owner), owner_(owner) {
    setObjectName("pgCoderBar");
    auto* style = new CompactTabStyle();
    style->setParent(this);
    setStyle(style);
}

bool TPageBar::event(QEvent* event) {
    // Tab mnemonics ("&View"): the hidden page's one must not reach it, and the others go
    // through the before-change check.
    if (event->type() == QEvent::Shortcut) {
        const auto* se = static_cast<QShortcutEvent*>(event);
        for (int i = 0; i < count(); ++i) {
            if (isTabVisible(i) && isTabEnabled(i) && QKeySequence::mnemonic(tabText(i)) == se->key()) {
                owner_->Request(i);
                return true;
            }
        }
        return true;
    }
    return QTabBar::event(event);
}

void TPageBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const int i = tabAt(event->position().toPoint());
        if (i >= 0 && i != currentIndex()) {
            event->accept();
            if (isTabEnabled(i)) owner_->Request(i);
            return;
        }
    }
    QTabBar::mousePressEvent(event);
}

void TPageBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
        const int step = event->key() == Qt::Key_Right ? 1 : -1;
        const int i = owner_->NextPage(isRightToLeft() ? -step : step);
        if (i >= 0) owner_->Request(i);
        event->accept();
        return;
    }
    QTabBar::keyPressEvent(event);
}

void TPageBar::wheelEvent(QWheelEvent* event) {
    // The wheel never changes the page: a page change opens or closes the port.
    event->ignore();
}

TPageControl::TPageControl(QWidget* parent) : QTabWidget(parent), bar_(new TPageBar(this)) {
    setTabBar(bar_);
}

int TPageControl::NextPage(int step) const {
    const int n = count();
    int i = currentIndex();
    for (int pass = 0; pass < n; ++pass) {
        i = (i + step + n) % n;
        if (i == currentIndex()) break;
        if (bar_->isTabVisible(i) && bar_->isTabEnabled(i)) return i;
    }
    return -1;
}

bool TPageControl::Request(int index) {
    if (index < 0 || index >= count() || index == currentIndex()) return false;
    if (Guard && !Guard(index)) return false;
    setCurrentIndex(index);
    return true;
}

void TPageControl::keyPressEvent(QKeyEvent* event) {
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    int step = 0;
    if (ctrl && (event->key() == Qt::Key_Tab || event->key() == Qt::Key_PageDown)) step = 1;
    if (ctrl && (event->key() == Qt::Key_Backtab || event->key() == Qt::Key_PageUp)) step = -1;
    if (step != 0) {
        const int i = NextPage(step);
        if (i >= 0) Request(i);
        event->accept();
        return;
    }
    QTabWidget::keyPressEvent(event);
}

}  // namespace vantora
