// Small builders for the pages' named controls; the pages place them with Qt layouts.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QStringList>

#include "app/controls.h"

namespace vantora::layout {

// A layout to nest in another: no margins of its own.
template <class L>
L* Nested(L* l) {
    l->setContentsMargins(0, 0, 0, 0);
    return l;
}

inline QLabel* Label(QWidget* parent, const QString& name, const QString& text) {
    auto* l = new QLabel(text, parent);
    if (!name.isEmpty()) l->setObjectName(name);
    return l;
}

inline QPushButton* Button(QWidget* parent, const QString& name, const QString& text, int width = 0) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    if (width > 0) b->setFixedWidth(width);
    b->setFixedHeight(23);
    return b;
}

inline QCheckBox* Check(QWidget* parent, const QString& name, const QString& text, bool checked) {
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(name);
    c->setChecked(checked);
    return c;
}

inline QComboBox* DropDown(QWidget* parent, const QString& name, const QStringList& items, int index,
                           int width) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->addItems(items);
    c->setCurrentIndex(index);
    c->setFixedSize(width, 21);
    return c;
}

inline QFrame* Panel(QWidget* parent, const QString& name) {
    auto* p = new QFrame(parent);
    p->setObjectName(name);
    p->setFrameShape(QFrame::StyledPanel);
    p->setFrameShadow(QFrame::Raised);
    return p;
}

// A panel that starts hidden, with a grid for its controls.
inline QGridLayout* HiddenPanel(QWidget* parent, const QString& name, QFrame** panel) {
    *panel = Panel(parent, name);
    (*panel)->setVisible(false);
    auto* grid = new QGridLayout(*panel);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setSpacing(4);
    return grid;
}

// An edit with its caption in the column before it (right-aligned).
inline TLabeledEdit* Field(QWidget* parent, const QString& name, const QString& caption, const QString& text,
                           QGridLayout* grid, int row, int column, int editWidth) {
    auto* e = new TLabeledEdit(parent, name, caption, text);
    e->Label()->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    e->setFixedHeight(17);
    if (editWidth > 0) e->setFixedWidth(editWidth);
    grid->addWidget(e->Label(), row, column);
    grid->addWidget(e, row, column + 1);
    return e;
}

// A read-only edit with its caption to the left.
inline TLabeledEdit* ReadOnly(QWidget* parent, const QString& name, const QString& caption, QGridLayout* grid,
                              int row, int column, int editWidth, const QString& text = {}) {
    TLabeledEdit* e = Field(parent, name, caption, text, grid, row, column, editWidth);
    e->setReadOnly(true);
    return e;
}

// A read-only edit with its caption on the row above it.
inline TLabeledEdit* ReadOnlyAbove(QWidget* parent, const QString& name, const QString& caption,
                                   QGridLayout* grid, int row, int column, int width,
                                   const QString& text = {}) {
    auto* e = new TLabeledEdit(parent, name, caption, text);
    e->Label()->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    e->setFixedHeight(17);
    if (width > 0) e->setFixedWidth(width);
    e->setReadOnly(true);
    grid->addWidget(e->Label(), row, column);
    grid->addWidget(e, row + 1, column);
    return e;
}

// An empty 0-100 progress bar.
inline QProgressBar* Progress(QWidget* parent, const QString& name) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(name);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setFixedHeight(16);
    return bar;
}

// Shows an action panel (a command's or a trace action's) and writes its caption above it
// in the given highlight colour.
inline void ShowActionPanel(QWidget* panel, QLabel* caption, const QString& text, const QColor& highlight) {
    panel->show();
    caption->setText(text);
    QPalette pal = caption->palette();
    pal.setColor(QPalette::WindowText, highlight);
    caption->setPalette(pal);
}

inline const QStringList WorkingRates = {"4800", "9600", "19200", "38400"};

}  // namespace vantora::layout
