#pragma once

#include <QPointF>

class QAbstractButton;

// Clicks on the About window's credits act on its splash button: the button
// is highlighted while the pointer, pressed on the text, is over the button,
// and a release over the button clicks it once.
namespace KZAboutClickForwarding {
void press(QAbstractButton* splash);
void drag(QAbstractButton* splash, const QPointF& globalPosition);
void release(QAbstractButton* splash, const QPointF& globalPosition);
} // namespace KZAboutClickForwarding
