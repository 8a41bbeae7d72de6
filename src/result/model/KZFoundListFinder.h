#pragma once

#include "result/model/KZShownList.h"

#include <QString>

#include <optional>

struct KZFoundListContext;

// Finds a name in a list of one list model: the search runs on a worker,
// the answer (a selected row or a beep) on the main thread.
class KZFoundListFinder {
public:
    // `context` outlives the finder.
    explicit KZFoundListFinder(const KZFoundListContext& context);

    // Looks for `text` in `list`, which the main thread handed; main thread.
    void find(const QString& text, const KZShownList& list);
    // The first row of `list` whose name contains the folded text; groups
    // before their members.
    static std::optional<KZListRow> searchString(const QString& foldedText, const KZShownList& list);

private:
    void answer(const std::optional<KZListRow>& hit) const;

    const KZFoundListContext& context_;
};
