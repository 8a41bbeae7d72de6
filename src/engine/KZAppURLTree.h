#pragma once

#include "engine/KZSearchItemInfo.h"

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <filesystem>

// The files of the music and photo libraries that a search leaves out,
// ordered by name. Filled by the library passes before the scan (the caller
// serialises concurrent inserts) and then only read, by both scan workers at
// once.
class KZAppURLTree {
public:
    KZAppURLTree() = default;
    ~KZAppURLTree() { freeAppURLsTreeNodes(); }
    KZAppURLTree(const KZAppURLTree&) = delete;
    KZAppURLTree& operator=(const KZAppURLTree&) = delete;

    // Stores the file under its name; false (nothing stored) when the
    // location is there already or there is no name.
    bool addNodeAppURLToTree(const std::filesystem::path& url, const QString& name);

    // -2 when the item's location is in the tree, 0 when it is not.
    qint16 appItemAlreadyExists(const KZSearchItemInfo& item) const;

    bool isEmpty() const { return appURLsTree_ == nullptr; }
    std::size_t size() const { return size_; }
    void freeAppURLsTreeNodes();

private:
    struct URLTree {
        std::filesystem::path url;
        QString name;
        URLTree* left = nullptr;
        URLTree* right = nullptr;
    };

    URLTree* appURLsTree_ = nullptr;
    std::size_t size_ = 0;
};
