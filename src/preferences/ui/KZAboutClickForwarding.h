#pragma once

#include <QPointF>

class QAbstractButton;

class QWidget;

// Clicks on the About window's credits act on its splash button, as if the
// text lay over the button: the button is highlighted while the pointer,
// pressed on the text, is over the text or the button, and a release there
// clicks it once. A release anywhere else only takes the highlight off.
namespace KZAboutClickForwarding {
void press(QAbstractButton* splash);
void drag(QAbstractButton* splash, const QWidget* text, const QPointF& globalPosition);
void release(QAbstractButton* splash, const QWidget* text, const QPointF& globalPosition);
} // namespace KZAboutClickForwarding
