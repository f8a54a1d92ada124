#include "app/colours/form_colours.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPalette>
#include <QRadioButton>
#include <QWidget>

namespace app {
namespace {

void paintBackground(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

} // namespace

QColor ButtonFaceColour() {
    return QApplication::palette().color(QPalette::Button);
}

void ApplyFormColours(QWidget* form) {
    const QColor colour = ButtonFaceColour();
    paintBackground(form, colour);
    for (QWidget* child : form->findChildren<QWidget*>()) {
        if (qobject_cast<QCheckBox*>(child) || qobject_cast<QGroupBox*>(child) ||
            qobject_cast<QRadioButton*>(child) || qobject_cast<QLabel*>(child))
            paintBackground(child, colour);
    }
}

} // namespace app
