// The few control kinds the window needs beyond plain Qt widgets: an edit with its caption,
// a radio group with an item index, a clickable label, a chart that reports double-clicks,
// and the page control whose page changes can be refused before they happen.
#pragma once

#include <QChartView>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QTabBar>
#include <QTabWidget>
#include <functional>

class QButtonGroup;
class QGridLayout;

namespace vantora {

// A line edit with a caption label beside or above it. The label follows the edit's
// visibility and enabled state, so hiding the edit hides its caption too.
class TLabeledEdit : public QLineEdit {
    Q_OBJECT
public:
    TLabeledEdit(QWidget* parent, const QString& name, const QString& caption, const QString& text = {});
    QLabel* Label() const { return label_; }
    // Caption to the left (labelWidth wide), the edit after it.
    void PlaceLeft(int x, int y, int labelWidth, int editWidth, int height = 17);
    // Caption on a line of its own above the edit.
    void PlaceAbove(int x, int y, int width, int height = 17);
    void setVisible(bool visible) override;

protected:
    void changeEvent(QEvent* event) override;

private:
    QLabel* label_;
};

// A titled group of radio buttons laid out in columns (filled column by column), read and
// set by item index; -1 means no item is selected.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(QWidget* parent, const QString& name, const QString& title, const QStringList& items,
                int itemIndex, int columns = 1);
    int ItemIndex() const;
    void SetItemIndex(int index);
    QStringList Items() const { return items_; }
    int Count() const { return static_cast<int>(items_.size()); }
    // Replaces the items; the selection is kept when it still names an item.
    void SetItems(const QStringList& items);

signals:
    // The user clicked an item.
    void Clicked(int index);

private:
    void Rebuild();

    QStringList items_;
    int columns_;
    QButtonGroup* group_;
    QGridLayout* grid_;
};

// A label that acts on a mouse click.
class TClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void Clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// A chart view that reports double-clicks instead of passing them on.
class TChartView : public QChartView {
    Q_OBJECT
public:
    using QChartView::QChartView;

signals:
    void DoubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

class TPageControl;

// The page control's tab row: every user action that would change the page (click,
// arrow keys, mnemonic) goes through TPageControl::Request, which may refuse it.
class TPageBar : public QTabBar {
    Q_OBJECT
public:
    explicit TPageBar(TPageControl* owner);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    TPageControl* owner_;
};

// A tab widget with a before-change check: Request(index) asks the guard while the old
// page is still shown and changes the page only when the guard allows it.
class TPageControl : public QTabWidget {
    Q_OBJECT
public:
    explicit TPageControl(QWidget* parent);
    // Answers whether the page may change from the current one to index.
    std::function<bool(int)> Guard;
    // False when index is no page, is the current one, or the guard refused.
    bool Request(int index);
    // The next shown, enabled page after the current one in direction step (+1 / -1), or -1.
    int NextPage(int step) const;
    TPageBar* Bar() const { return bar_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    TPageBar* bar_;
};

}  // namespace vantora
