#include "engine/KZAppURLTree.h"

#include "engine/KZCompareCodes.h"
#include "engine/KZEnginePaths.h"
#include "engine/KZTreeWalk.h"

#include <new>

// The libraries write their locations in their own spelling; both sides are
// normalised so that one file is one location.

bool KZAppURLTree::addNodeAppURLToTree(const std::filesystem::path& url, const QString& name)
{
    // A node without a name could not be ordered and would hide the nodes
    // after it from the look-ups.
    if (name.isNull() || url.empty())
        return false;
    std::filesystem::path location = KZEnginePaths::normalized(url);
    URLTree** link = &appURLsTree_;
    while (*link) {
        URLTree* here = *link;
        if (here->url == location)
            return false;
        link = compareForSameString(here->name, name) == KZCompare::kAfter ? &here->left : &here->right;
    }
    auto* node = new (std::nothrow) URLTree;
    if (!node)
        return false;
    node->url = std::move(location);
    node->name = name;
    *link = node;
    ++size_;
    return true;
}

qint16 KZAppURLTree::appItemAlreadyExists(const KZSearchItemInfo& item) const
{
    if (!appURLsTree_)
        return KZCompare::kSame;
    const std::filesystem::path location = KZEnginePaths::normalized(item.url());
    const URLTree* here = appURLsTree_;
    while (here) {
        if (here->url == location)
            return KZCompare::kNotComparable;
        here = compareForSameString(here->name, item.originalName()) == KZCompare::kAfter ? here->left : here->right;
    }
    return KZCompare::kSame;
}

void KZAppURLTree::freeAppURLsTreeNodes()
{
    forEachNodePostOrder(appURLsTree_, [](URLTree* node) { delete node; });
    appURLsTree_ = nullptr;
    size_ = 0;
}
