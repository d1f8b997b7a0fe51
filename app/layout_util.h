// Small builders for absolutely placed controls: each makes a named control at a place.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QStringList>

#include "app/controls.h"

namespace vantora::layout {

inline QLabel* Label(QWidget* parent, const QString& name, const QString& text, int x, int y, int w,
                     int h = 16) {
    auto* l = new QLabel(text, parent);
    if (!name.isEmpty()) l->setObjectName(name);
    l->setGeometry(x, y, w, h);
    return l;
}

inline QPushButton* Button(QWidget* parent, const QString& name, const QString& text, int x, int y, int w,
                           int h = 23) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setGeometry(x, y, w, h);
    return b;
}

inline QCheckBox* Check(QWidget* parent, const QString& name, const QString& text, bool checked, int x, int y,
                        int w, int h = 17) {
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(name);
    c->setChecked(checked);
    c->setGeometry(x, y, w, h);
    return c;
}

inline QComboBox* DropDown(QWidget* parent, const QString& name, const QStringList& items, int index, int x,
                           int y, int w, int h = 21) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->addItems(items);
    c->setCurrentIndex(index);
    c->setGeometry(x, y, w, h);
    return c;
}

inline QFrame* Panel(QWidget* parent, const QString& name, int x, int y, int w, int h) {
    auto* p = new QFrame(parent);
    p->setObjectName(name);
    p->setFrameShape(QFrame::StyledPanel);
    p->setFrameShadow(QFrame::Raised);
    p->setGeometry(x, y, w, h);
    return p;
}

// A read-only field with its caption to the left.
inline TLabeledEdit* Field(QWidget* parent, const QString& name, const QString& caption, int x, int y,
                           int labelWidth, int editWidth, const QString& text = {}) {
    auto* e = new TLabeledEdit(parent, name, caption, text);
    e->PlaceLeft(x, y, labelWidth, editWidth);
    e->setReadOnly(true);
    return e;
}

// A read-only field with its caption above it.
inline TLabeledEdit* ReadOnlyAbove(QWidget* parent, const QString& name, const QString& caption, int x, int y,
                                   int width, const QString& text = {}) {
    auto* e = new TLabeledEdit(parent, name, caption, text);
    e->PlaceAbove(x, y, width);
    e->setReadOnly(true);
    return e;
}

// An empty 0-100 progress bar.
inline QProgressBar* Progress(QWidget* parent, const QString& name, int x, int y, int w) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(name);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setGeometry(x, y, w, 16);
    return bar;
}

inline const QStringList WorkingRates = {"4800", "9600", "19200", "38400"};

}  // namespace vantora::layout
