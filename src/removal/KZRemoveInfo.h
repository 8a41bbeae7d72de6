#pragma once

#include <QString>

// The explanation behind an info button of the removal panel, by the
// button's tag; a tag with no entry shows the tag itself.
QString KZRemoveInfoText(int tag);

// Explanations wrap at this width.
constexpr int KZRemoveInfoMaxWidth = 350;
