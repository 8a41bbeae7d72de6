#pragma once

#include "result/model/KZFoundItem.h"
#include "result/window/KZPreviewFacts.h"

#include <QSize>
#include <QString>
#include <QtGlobal>

#include <filesystem>
#include <memory>
#include <optional>

// One card of the preview pane and one item of the preview panel: a found
// item seen through a weak reference, the row it was made for, and the two
// flags the pane and the card share. Every text getter asks the found item
// (or the facts behind it) again; only the kind, which follows from the
// name, is worked out once.
class KZPreviewItem {
public:
    enum class Kind { Other, Image, Song };

    explicit KZPreviewItem(const KZFoundItemRef& item) : item_(item) {}

    KZFoundItemRef item() const { return item_.lock(); }
    // The found item this preview stands for, compared by identity only; a
    // gone item matches nothing.
    bool representsSameItem(const KZPreviewItem& other) const;

    qint64 index() const { return index_; }
    void setIndex(qint64 index) { index_ = index; }
    bool dontUpdate() const { return dontUpdate_; }
    void setDontUpdate(bool value) { dontUpdate_ = value; }
    bool isVertical() const { return isVertical_; }
    void setIsVertical(bool value) { isVertical_ = value; }

    // Empty when the found item is gone.
    std::filesystem::path url() const;
    std::filesystem::path previewItemURL() const { return url(); }
    QString name() const;

    Kind kind() const;
    bool isImage() const { return kind() == Kind::Image; }
    bool isSong() const { return kind() == Kind::Song; }
    // Pixels, 0 when not read.
    quint32 width() const;
    quint32 height() const;
    // Both at once (the pane asks it of every card).
    QSize pixelSize() const;

    // The card's lines: the "unknown" text for an empty value of the item's
    // own kind, the empty text for the other kind or a gone item.
    QString dateTaken() const;
    QString dimension() const;
    QString camera() const;
    QString latitude() const;
    QString longitude() const;
    QString songName() const;
    QString artist() const;
    QString album() const;
    QString time() const;
    QString bitRate() const;
    // The same by the getter's name; the empty text for any other key.
    QString value(const QString& key) const;

    // Pictures and songs are told by their extension, then by the tab they
    // were filed under (the images and music labels).
    static Kind kindOfItem(KZFoundItem& item);
    static const QStringList& imageKeys();
    static const QStringList& songKeys();

private:
    QString imageLine(QString KZPreviewImageFacts::*field) const;
    QString songLine(QString KZPreviewSongFacts::*field) const;

    std::weak_ptr<KZFoundItem> item_;
    qint64 index_ = 0;
    bool dontUpdate_ = false;
    bool isVertical_ = false;
    mutable std::optional<Kind> kind_;
};

using KZPreviewItemRef = std::shared_ptr<KZPreviewItem>;
using KZPreviewItems = QList<KZPreviewItemRef>;
