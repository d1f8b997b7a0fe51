// Small builders for absolutely placed controls: each makes a named control at a place.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QStringList>

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

inline const QStringList WorkingRates = {"4800", "9600", "19200", "38400"};

}  // namespace vantora::layout
