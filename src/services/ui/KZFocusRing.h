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

QColor colour(const QWidget* widget);
// A ring of `width` just inside `rect`, with rounded corners of `radius`.
void paint(QPainter& painter, const QRectF& rect, qreal radius, const QWidget* widget, qreal width = 2.0);
// The style-sheet rule that gives a QPushButton the ring while it has the
// focus (append it to the button's own sheet).
QString pushButtonRule(const QWidget* widget, int radius);
// For a control only Tab reaches: the focus that comes to it any other way
// (the window given back its focus after a transition) goes on to the
// nearest enclosing widget that takes the focus itself, so that Space or
// Return never works a control the user did not move to.
void onlyFromTheKeyboard(QWidget* control);

} // namespace KZFocusRing
