// The button-face colour routine both windows use.
//
// It is its own small library, below the two windows, so the preview can colour itself
// without linking the main window's library.
#pragma once

#include <QColor>

class QWidget;

namespace app {

// The system's button-face colour.
QColor ButtonFaceColour();
// The button-face colour for the window, its frames, check boxes, option buttons and labels.
void ApplyFormColours(QWidget* form);

} // namespace app
