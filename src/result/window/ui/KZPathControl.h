#pragma once

#include <QWidget>

#include <filesystem>
#include <vector>

class QMenu;

// The path of a previewed file as a row of its folders and its name. A row
// too narrow loses the middle of the path: the folder it starts from stays
// on the left, the name and the deepest folders that fit on the right. A right click offers to
// show the element under the pointer in its folder (tag 100) or to open it
// (tag 101); the clicked element is the file when the click missed them all.
class KZPathControl : public QWidget {
    Q_OBJECT
public:
    static constexpr int revealTag = 100;
    static constexpr int openTag = 101;

    explicit KZPathControl(QWidget* parent = nullptr);

    void setPath(const std::filesystem::path& path);
    const std::filesystem::path& path() const { return path_; }
    // The element the last menu was opened on.
    const std::filesystem::path& clickedPath() const { return clicked_; }
    std::filesystem::path elementAt(QPoint point) const;
    // The elements shown, left to right, with where each stands.
    std::vector<std::pair<std::filesystem::path, QRect>> shownElements() const;
    // Where the ellipsis of a shortened path stands; -1 when whole.
    int ellipsisX() const
    {
        ensureLaidOut();
        return ellipsisX_;
    }
    QMenu* menu() const { return menu_; }
    // Opens the menu as a right click at `point` does (tests choose its items).
    void prepareMenuAt(QPoint point);

Q_SIGNALS:
    void menuItemChosen(int tag);

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Element {
        std::filesystem::path path;
        QString title;
        QRect rect;
    };
    void layoutElements();
    void ensureLaidOut() const;

    std::filesystem::path path_;
    std::filesystem::path clicked_;
    mutable std::vector<Element> elements_;
    int ellipsisX_ = -1;
    int laidWidth_ = -1;
    QMenu* menu_ = nullptr;
};
