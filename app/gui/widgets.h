// Small makers for named controls: every control carries the name the
// program's vocabulary gives it, so tests, skins and the screenshot tool
// find it by that name.
#pragma once

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QString>

#include "app/gui/options_form.h"  // ClearGroup

namespace kiv::gui {

inline QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    return b;
}

inline QRadioButton* MakeRadio(QWidget* parent, const char* name, const QString& caption) {
    auto* r = new QRadioButton(caption, parent);
    r->setObjectName(name);
    return r;
}

inline QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption) {
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(name);
    return c;
}

}  // namespace kiv::gui
