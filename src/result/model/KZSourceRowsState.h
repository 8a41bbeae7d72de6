#pragma once

#include <QtGlobal>

#include <vector>

// The values of one row of a tab's sources list that a saved result keeps.
struct KZSourceRowValues {
    quint64 tag = 0;
    bool isPhotosLib = false;
    bool searchStoppeByUser = false;
    quint64 markedCount = 0;
    quint64 markedSize = 0;
    quint64 removedSize = 0;
    quint64 removedCount = 0;

    bool operator==(const KZSourceRowValues&) const = default;
};

// What saving and reopening a result ask of a tab's sources list: its rows'
// counters and which row is selected. A sources list that offers it is asked
// directly; without one, the row whose list is shown stands for the
// selection and there are no row counters to keep. Main thread only.
class KZSourceRowsState {
public:
    virtual ~KZSourceRowsState() = default;
    virtual std::vector<KZSourceRowValues> sourceRowValues() const = 0;
    // The selected row's tag; 0 when none is selected.
    virtual quint64 selectedSourceRowTag() const = 0;
    // Saved rows are matched to the present ones by tag; then the row tagged
    // `selection` is selected.
    virtual void applySavedSourceRows(const std::vector<KZSourceRowValues>& rows, quint64 selection) = 0;
};
