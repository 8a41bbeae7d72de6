#pragma once

#include "engine/KZSearchItemInfo.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <filesystem>
#include <optional>
#include <vector>

class KZFilesUtilities;
class KZItemReader;
class KZSearchCriteria;

// Decides, for one item already read, whether it takes part in the search:
// the criteria that say which items count (visibility, custom icon, locked
// state, label, empty files, type, empty folders, size, kind, compressed
// files, name, extension), as opposed to those that say when two items are
// the same. Also marks the items whose pictures are compared by content.
//
// Runs on the driver's and both workers' threads at once, each on its own
// item; it reads the criteria without a lock and keeps no state.
class KZItemFilters {
public:
    KZItemFilters(const KZSearchCriteria& criteria, const KZItemReader& reader, const KZFilesUtilities& fileCntrl);

    // True: the item becomes a candidate. The empty-folder climb may replace
    // a folder item by its outermost empty ancestor.
    bool checkForNotSameUniqueCriteria(KZSearchItemInfo& item) const;

    // True when the item's folder counts as empty. With nested emptying the
    // item becomes the outermost empty folder above it.
    bool startCheckForEmptyFolder(KZSearchItemInfo& item) const;
    bool checkForEmptyFolder(const std::filesystem::path& folder) const;

    bool isSoundItem(const KZSearchItemInfo& item) const;

    // Sets or clears the item's image-content flag.
    void isImageContent(KZSearchItemInfo& item) const;
    // True for a picture format whose content can be compared; the
    // extension is compared exactly.
    bool isImageForContentCheck(quint32 type, const QString& extension) const;

    const std::vector<quint32>& typesForCheckContent() const { return typesForCheckContent_; }
    const QStringList& extensionsForCheckContent() const { return extensionsForCheckContent_; }

private:
    // An item's name in the forms the filters ask for, each decoded once
    // and only when first asked.
    class NameForms {
    public:
        explicit NameForms(const KZSearchItemInfo& item) : item_(item) {}
        const QString& name() const;
        const QString& extension() const;
        QString nameWithOption(bool withoutExtension) const;
        // The item was replaced (an empty folder's outermost empty parent).
        void forget();

    private:
        const KZSearchItemInfo& item_;
        mutable std::optional<QString> name_;
        mutable std::optional<QString> extension_;
    };

    // Each filter judges the facts read into the item; none goes back to
    // the file.
    bool passesVisibility(const KZSearchItemInfo& item, const NameForms& names) const;
    bool passesCustomIcon(const KZSearchItemInfo& item) const;
    bool passesLabel(const KZSearchItemInfo& item) const;
    bool passesSize(const KZSearchItemInfo& item) const;
    bool passesKind(const KZSearchItemInfo& item, const NameForms& names) const;
    bool passesName(const NameForms& names) const;
    bool passesExtension(const KZSearchItemInfo& item, const NameForms& names, bool typeTestPassed) const;
    bool isSoundItem(const KZSearchItemInfo& item, const NameForms& names) const;
    void isImageContent(KZSearchItemInfo& item, const NameForms& names) const;

    const KZSearchCriteria& criteria_;
    const KZItemReader& reader_;
    const KZFilesUtilities& fileCntrl_;
    std::vector<quint32> typesForCheckContent_;
    QStringList extensionsForCheckContent_;
};
