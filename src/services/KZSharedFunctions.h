#pragma once

#include <QSizeF>
#include <QString>
#include <QUrl>
#include <QtGlobal>

#include <filesystem>
#include <functional>

// Plain functions that several windows and the engine share. The
// search-in-progress flag lives in KZSearchInProgress.h.

// (width, height × maxWidth / width) when wider than maxWidth, the size
// unchanged otherwise, and the zero size for a non-positive side. Callers
// read the height.
QSizeF KZSizeFittingMaxWidth(double width, double height, double maxWidth);

// A binary search tree of 64-bit keys with 16-bit labels (the photo
// library reader's identifiers).
struct IdsTree {
    quint64 key = 0;
    IdsTree* left = nullptr;
    IdsTree* right = nullptr;
    qint16 label = 0;
};
// Writes the label of `key` through `label` and answers true when the key is
// in the tree; an absent key leaves `label` as it was. Iterative, so a
// degenerate tree of sorted keys cannot exhaust the stack.
bool KZTreeFindValueForKey(quint64 key, const IdsTree* root, qint16* label);

// Orders two locations by their paths, ignoring case: −1, 0 or 1.
int KZCompareURLPaths(const QUrl& a, const QUrl& b, void* context = nullptr);
int KZCompareURLPaths(const std::filesystem::path& a, const std::filesystem::path& b, void* context = nullptr);

// Whether an application with this identifier runs. No registry of running
// applications exists here: the layer that watches processes installs the
// answer; until then nothing runs.
bool KZIsAppRunning(const QString& bundleIdentifier);
void KZSetAppRunningProvider(std::function<bool(const QString& bundleIdentifier)> provider);

inline double KZDegreesToRadians(double degrees)
{
    return M_PI * degrees / 180.0;
}

// The grey level of text that reads well on a background of (red, green,
// blue), each 0...1: 0.0 (or 0.15 when the text need not be pure black) on a
// light background, 1.0 on a dark one.
double KZContrastingTextWhite(bool fontColorIsBlack, double red, double green, double blue);
