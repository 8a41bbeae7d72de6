#include "result/window/KZPreviewItem.h"

#include "platform/StringTable.h"
#include "services/KZFilesUtilities.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <climits>

namespace {

constexpr quint64 kImagesLabel = 3;
constexpr quint64 kMusicLabel = 4;

QString unknownText()
{
    return platform::localizedString(QStringLiteral("unknown"));
}

} // namespace

bool KZPreviewItem::representsSameItem(const KZPreviewItem& other) const
{
    const KZFoundItemRef mine = item();
    return mine && mine == other.item();
}

std::filesystem::path KZPreviewItem::url() const
{
    const KZFoundItemRef found = item();
    return found ? found->url() : std::filesystem::path();
}

QString KZPreviewItem::name() const
{
    const KZFoundItemRef found = item();
    return found ? found->name() : QString();
}

KZPreviewItem::Kind KZPreviewItem::kindOfItem(KZFoundItem& item)
{
    if (item.isDirectory() || item.isPackage())
        return Kind::Other;
    static const auto setOf = [](const QString& list) {
        QSet<QString> set;
        for (const QString& extension : list.split(QLatin1Char(','), Qt::SkipEmptyParts))
            set.insert(extension.trimmed().toLower());
        return set;
    };
    static const QSet<QString> images = setOf(KZFilesUtilities::sharedControl().imagesExtensions());
    static const QSet<QString> songs = setOf(KZFilesUtilities::sharedControl().musicExtensions());
    const QString extension = item.extension().toLower();
    if (!extension.isEmpty()) {
        if (images.contains(extension))
            return Kind::Image;
        if (songs.contains(extension))
            return Kind::Song;
    }
    if (item.fileTypeTag() == kImagesLabel)
        return Kind::Image;
    if (item.fileTypeTag() == kMusicLabel)
        return Kind::Song;
    return Kind::Other;
}

KZPreviewItem::Kind KZPreviewItem::kind() const
{
    const KZFoundItemRef found = item();
    if (!found)
        return Kind::Other;
    if (!kind_)
        kind_ = kindOfItem(*found);
    return *kind_;
}

quint32 KZPreviewItem::width() const
{
    return isImage() ? KZPreviewFacts::shared().imageFacts(item()).width : 0;
}

quint32 KZPreviewItem::height() const
{
    return isImage() ? KZPreviewFacts::shared().imageFacts(item()).height : 0;
}

QSize KZPreviewItem::pixelSize() const
{
    if (!isImage())
        return {};
    const KZPreviewImageFacts facts = KZPreviewFacts::shared().imageFacts(item());
    return QSize(int(std::min<quint32>(facts.width, INT_MAX)), int(std::min<quint32>(facts.height, INT_MAX)));
}

QString KZPreviewItem::imageLine(QString KZPreviewImageFacts::*field) const
{
    if (!isImage())
        return {};
    const QString text = KZPreviewFacts::shared().imageFacts(item()).*field;
    return text.isEmpty() ? unknownText() : text;
}

QString KZPreviewItem::songLine(QString KZPreviewSongFacts::*field) const
{
    if (!isSong())
        return {};
    const QString text = KZPreviewFacts::shared().songFacts(item()).*field;
    return text.isEmpty() ? unknownText() : text;
}

QString KZPreviewItem::dateTaken() const { return imageLine(&KZPreviewImageFacts::dateTaken); }
QString KZPreviewItem::camera() const { return imageLine(&KZPreviewImageFacts::camera); }
QString KZPreviewItem::latitude() const { return imageLine(&KZPreviewImageFacts::latitude); }
QString KZPreviewItem::longitude() const { return imageLine(&KZPreviewImageFacts::longitude); }

QString KZPreviewItem::dimension() const
{
    if (!isImage())
        return {};
    const KZPreviewImageFacts facts = KZPreviewFacts::shared().imageFacts(item());
    if (facts.width == 0 || facts.height == 0)
        return unknownText();
    return QStringLiteral("%1 x %2").arg(facts.width).arg(facts.height);
}

QString KZPreviewItem::songName() const { return songLine(&KZPreviewSongFacts::songName); }
QString KZPreviewItem::artist() const { return songLine(&KZPreviewSongFacts::artist); }
QString KZPreviewItem::album() const { return songLine(&KZPreviewSongFacts::album); }
QString KZPreviewItem::time() const { return songLine(&KZPreviewSongFacts::time); }
QString KZPreviewItem::bitRate() const { return songLine(&KZPreviewSongFacts::bitRate); }

const QStringList& KZPreviewItem::imageKeys()
{
    static const QStringList keys{QStringLiteral("dateTaken"), QStringLiteral("dimension"), QStringLiteral("camera"),
                                  QStringLiteral("latitude"), QStringLiteral("longitude")};
    return keys;
}

const QStringList& KZPreviewItem::songKeys()
{
    static const QStringList keys{QStringLiteral("songName"), QStringLiteral("artist"), QStringLiteral("album"),
                                  QStringLiteral("time"), QStringLiteral("bitRate")};
    return keys;
}

QString KZPreviewItem::value(const QString& key) const
{
    using Getter = QString (KZPreviewItem::*)() const;
    static const QHash<QString, Getter> getters{
        {QStringLiteral("dateTaken"), &KZPreviewItem::dateTaken}, {QStringLiteral("dimension"), &KZPreviewItem::dimension},
        {QStringLiteral("camera"), &KZPreviewItem::camera},       {QStringLiteral("latitude"), &KZPreviewItem::latitude},
        {QStringLiteral("longitude"), &KZPreviewItem::longitude}, {QStringLiteral("songName"), &KZPreviewItem::songName},
        {QStringLiteral("artist"), &KZPreviewItem::artist},       {QStringLiteral("album"), &KZPreviewItem::album},
        {QStringLiteral("time"), &KZPreviewItem::time},           {QStringLiteral("bitRate"), &KZPreviewItem::bitRate}};
    const auto found = getters.constFind(key);
    return found == getters.constEnd() ? QString() : (this->*found.value())();
}
