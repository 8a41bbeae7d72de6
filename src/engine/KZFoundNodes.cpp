#include "engine/KZFoundNodes.h"

TreeToCheck* KZFoundNodes::processFoundItem(std::unique_ptr<TreeToCheck> node, const Phase& phase)
{
    if (!node)
        return nullptr;
    if (phase.isNestedEmptied && !phase.duplicateFoldersAlreadyChecked)
        return foldersTree_.addFolderToNode(std::move(node));
    if (phase.isDuration && !phase.timeAlreadyGot) {
        durationItems_.push_back(std::move(node));
        return nullptr;
    }
    cStyleArray_.prepend(std::move(node));
    return nullptr;
}

void KZFoundNodes::freeUnusedFoldersTreeNodes()
{
    foldersTree_.freeUnusedFoldersTreeNodes(
        [this](std::unique_ptr<TreeToCheck> node) { cStyleArray_.prepend(std::move(node)); });
}

void KZFoundNodes::restoreDurationItems()
{
    for (auto& node : durationItems_)
        cStyleArray_.prepend(std::move(node));
    durationItems_.clear();
}

void KZFoundNodes::clear()
{
    cStyleArray_.clear();
    foldersTree_.freeUnusedFoldersTreeNodes({});
    durationItems_.clear();
}
