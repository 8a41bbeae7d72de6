#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

namespace platform {

// Reads a binary property list ("bplist00") straight into Qt values, in the
// mapping of PropertyList (which it answers alike, value for value), for the
// lists the program reads by the hundred thousand records or by the hundred
// thousand times: saved results and the bookmarks inside them. It builds no
// tree of libplist nodes beside the values, and an object that several
// containers share is read once and shared by them as well.
//
// The bytes come from files anyone may have made, and are trusted no more
// than PropertyList trusts them: every offset, length and reference is
// checked against the buffer, a dictionary key must be text without a NUL,
// objects may not contain themselves, nesting is bounded, and so is the size
// the shared objects would expand to for a reader that walks them. Anything
// else answers nothing and the reason.
std::optional<QVariant> readBinaryPropertyList(const QByteArray& data, QString* error = nullptr);

} // namespace platform
