#pragma once

#include <QString>

#include <filesystem>
#include <vector>

// The rows of the restore window: one per undo file in the home trash, with
// the number of items it holds and the moment of its removal. Rows are
// matched by path, so a restore that ends after the list was rebuilt never
// removes the wrong row.
class KZRestoreList {
public:
    struct Row {
        QString name;
        bool isChecked = false;
        std::filesystem::path path;
        // Why its file could not be read, in the reader's words, for the
        // row's details; empty when it was read.
        QString problem;
        // Nothing of it to list: every item went back from a disk that may
        // have been a copy, and no Trash holds one at its name.
        bool hidden = false;
    };

    explicit KZRestoreList(std::filesystem::path trashDir);

    // The row of one undo file.
    static Row rowOf(const std::filesystem::path& file);

    void permanentItems();
    static bool areTherePermanentFiles(const std::filesystem::path& trashDir);
    static QString rowText(qsizetype count, double secondsSinceReferenceDate);
    // The row of a removal whose undo file could not be read: no count.
    static QString unreadRowText(double secondsSinceReferenceDate);

    const std::vector<Row>& rows() const { return rows_; }
    // Answers whether Restore may be pressed.
    bool toggle(std::size_t row);
    int selectedCount() const { return selectedCount_; }
    // The checked files, from the last row to the first.
    std::vector<std::filesystem::path> checkedPathsBottomUp() const;
    void removeRows(const std::vector<std::filesystem::path>& paths);
    // Reads each row's file again for the number of items it still holds;
    // check marks stay.
    void recount();

private:
    std::filesystem::path trashDir_;
    std::vector<Row> rows_;
    int selectedCount_ = 0;
};
