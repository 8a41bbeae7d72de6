#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <atomic>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

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
//
// An array of many records that are dictionaries of plain values (a saved
// result's items) is read on a few threads, to the same answer.
std::optional<QVariant> readBinaryPropertyList(const QByteArray& data, QString* error = nullptr);

// How many records an array must hold to be read on threads; tests move it
// to read one list both ways.
extern std::atomic<quint64> recordsReadInParallelFrom;

struct BinaryPropertyListEntry {
    std::string_view key; // the key's bytes, inside the data that was read
    QVariant value;
};

// The value stored under `key` among `entries`, or nullptr: where a key is
// stored twice its last value counts, as in the map of them.
const QVariant* entryValue(const std::vector<BinaryPropertyListEntry>& entries, const QString& key);

// The entries of a list whose root is a dictionary of plain values, in the
// order stored: what readBinaryPropertyList reads as a map of them, without
// the map. Only for a list whose keys are text of one byte a character and
// whose values hold no other object; anything else, damage included,
// answers nothing, and readBinaryPropertyList tells what it is. Entries
// whose key `wanted` refuses are checked as the reading checks them but not
// listed.
std::optional<std::vector<BinaryPropertyListEntry>> readFlatBinaryDictionary(
    const QByteArray& data, const std::function<bool(std::string_view key)>& wanted = {});

// Reads a record of such an array of the root dictionary, the key of the
// root that holds the array given: the value to stand in the record's place
// instead of its map, or an invalid QVariant to keep the map. Called on
// several threads at once. Where a record it took, or its array, is also
// met elsewhere in the list, the list is read again without it, so every
// place still holds what it holds.
using BinaryRecordReader =
    std::function<QVariant(const QString& arrayKey, const std::vector<BinaryPropertyListEntry>& record)>;
std::optional<QVariant> readBinaryPropertyList(const QByteArray& data, QString* error,
                                               const BinaryRecordReader& recordReader);

} // namespace platform
