#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QtGlobal>

#include <optional>

// Small helpers that several windows share: the e-mail address test, the
// look-up of a file-type label by its tag and the stored form of a split
// view's layout.

// Some text, "@", one or more labels of letters, digits and hyphens each
// followed by a dot, then two or more letters; the whole string must match.
bool isValidEmail(const QString& address);

// The index of the first map in `labels` whose "file_type_tag" equals `tag`
// as a number, or −1.
qsizetype indexOfItemInFILETYPETAGArray(const QVariantList& labels, qint64 tag);

// One pane of a split view as stored in the defaults: "x, y, width, height,
// YES|NO (this pane collapsed), YES|NO (the other pane collapsed)".
struct KZSplitViewPaneSetting {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool collapsed = false;
    bool otherCollapsed = false;

    QString toString() const;
    // Nothing for a string that is not one of ours: fewer than five fields,
    // or a position or size that is not a finite number (sizes must not be
    // negative). Readers then leave the view as it is.
    static std::optional<KZSplitViewPaneSetting> fromString(const QString& string);
};

// The truth of a stored YES/NO text: leading spaces and a sign followed by
// zeros are skipped, then "Y", "y", "T", "t" or a digit 1–9 mean true.
bool KZStringBoolValue(const QString& string);
