#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;
class QWidget;

// Where the keyboard focus is, on controls that paint themselves or wear a
// style sheet (which drops the style's own focus frame): a ring in the
// palette's highlight colour, as the style draws it on plain controls.
namespace KZFocusRing {

// Opaque even where the widget made its own highlight transparent.
QColor colour(const QWidget* widget);
// A ring of `width` just inside `rect`, with rounded corners of `radius`.
void paint(QPainter& painter, const QRectF& rect, qreal radius, const QWidget* widget, qreal width = 2.0);
// The style-sheet rule that gives a QPushButton the ring while it has the
// focus (append it to the button's own sheet).
QString pushButtonRule(const QWidget* widget, int radius);
// For a control only Tab reaches: the focus that comes to it any other way
// (the window given back its focus after a transition) goes on to the
// nearest enclosing widget that takes the focus itself, so that Space or
// Return never works a control the user did not move to. A closing menu
// hands the focus back to the control that held it.
void onlyFromTheKeyboard(QWidget* control);
// Gives a control the style leaves without a mark of the focus (a list that
// paints its own rows, a scroll area, a small button in a style-sheet pill)
// a ring over its edge while it has the focus, and none otherwise.
void showWhileFocused(QWidget* control, qreal radius = 3);
// Whether the ring of showWhileFocused stands over the control now.
bool isShownOn(const QWidget* control);

} // namespace KZFocusRing
