#include "media/KZSongTagCntrl.h"

#include "platform/FileStat.h"
#include "platform/Paths.h"
#include "platform/SharedInstance.h"

#include <aifffile.h>
#include <audioproperties.h>
#include <fileref.h>
#include <flacfile.h>
#include <mp4file.h>
#include <mpegfile.h>
#include <tag.h>
#include <tpropertymap.h>
#include <wavfile.h>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

platform::SharedInstance<KZSongTagCntrl>& sharedInstance()
{
    static platform::SharedInstance<KZSongTagCntrl> instance([] { return std::make_unique<KZSongTagCntrl>(); });
    return instance;
}

QString fromTagLib(const TagLib::String& text)
{
    return QString::fromStdString(text.to8Bit(true));
}

// Up to `count` bytes from `offset`; fewer when the file is shorter. The
// file is opened without blocking, so a pipe under an audio name is no wait.
std::string readBytes(const fs::path& url, off_t offset, std::size_t count)
{
    const int fd = ::open(url.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string bytes(count, '\0');
    ssize_t got = -1;
    do {
        got = ::pread(fd, bytes.data(), count, offset);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

// The given extension, else the one of the file's name.
QString extensionOf(const fs::path& url, const QString& given)
{
    if (!given.isEmpty())
        return given;
    const QString name = platform::pathText(url.filename());
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.mid(dot + 1) : QString();
}

bool isRegularFile(const fs::path& url)
{
    const auto st = platform::statPath(url, true);
    return st && st->isRegular();
}

using FileType = KZSongTagCntrl::FileType;

// Opens the file as `type`, or by its name's extension when the type is
// unknown. Nothing comes back unless the reader found the file sound.
std::unique_ptr<TagLib::File> openAudio(const fs::path& url, FileType type, bool withProperties)
{
    const char* name = url.c_str();
    const auto style = TagLib::AudioProperties::Average;
    std::unique_ptr<TagLib::File> file;
    switch (type) {
    case FileType::MPEG:
        file = std::make_unique<TagLib::MPEG::File>(name, withProperties, style);
        break;
    case FileType::WAVE:
        file = std::make_unique<TagLib::RIFF::WAV::File>(name, withProperties, style);
        break;
    case FileType::AIFF:
        file = std::make_unique<TagLib::RIFF::AIFF::File>(name, withProperties, style);
        break;
    case FileType::MP4:
        file = std::make_unique<TagLib::MP4::File>(name, withProperties, style);
        break;
    case FileType::FLAC:
        file = std::make_unique<TagLib::FLAC::File>(name, withProperties, style);
        break;
    case FileType::Unknown: {
        // Formats told only by their names (Ogg, WMA, APE and the like).
        TagLib::File* named = TagLib::FileRef::create(name, withProperties, style);
        file.reset(named);
        break;
    }
    }
    if (!file || !file->isValid())
        return nullptr;
    return file;
}

// The file, opened by what its first bytes show, else by `hint`, else by
// its name. Nothing for a file that is not a regular file or not audio.
std::unique_ptr<TagLib::File> openSong(const fs::path& url, FileType hint, bool withProperties)
{
    if (!isRegularFile(url))
        return nullptr;
    const FileType content = KZSongTagCntrl::typeOfContent(url);
    return openAudio(url, content != FileType::Unknown ? content : hint, withProperties);
}

} // namespace

KZSongTagCntrl& KZSongTagCntrl::sharedControl()
{
    return sharedInstance().get();
}

void KZSongTagCntrl::setSharedControl(std::unique_ptr<KZSongTagCntrl> instance)
{
    sharedInstance().replace(std::move(instance));
}

KZSongInfo KZSongTagCntrl::songMetatadaWithURL(const fs::path& url, const QString& extension, bool isDuration) const
{
    KZSongInfo info = songMetadataUsingCoreAudioWithURL(url, isDuration);
    if (isDuration)
        songDurationWithURL(url, info, extensionOf(url, extension));
    return info;
}

KZSongInfo KZSongTagCntrl::songMetadataUsingCoreAudioWithURL(const fs::path& url, bool /*isDuration*/) const
{
    KZSongInfo info;
    // The readers are not written to throw, but a hostile size field can
    // still end in an allocation failure; a damaged file must not take the
    // caller down with it.
    try {
        const auto file = openSong(url, FileType::Unknown, false);
        const TagLib::Tag* tag = file ? file->tag() : nullptr;
        if (!tag)
            return info;
        const TagLib::PropertyMap properties = file->properties();
        const auto text = [&](const char* key) -> QString {
            const auto found = properties.find(key);
            if (found == properties.end() || found->second.isEmpty())
                return {};
            return fromTagLib(found->second.front());
        };
        info.setSongName(text("TITLE"));
        info.setAlbum(text("ALBUM"));
        info.setArtist(text("ARTIST"));
        info.setGenre(text("GENRE"));
        QString date = text("DATE");
        if (date.isEmpty() && tag->year() > 0)
            date = QString::number(tag->year());
        info.setYear(yearOfDateTag(date));
    } catch (...) {
        return KZSongInfo();
    }
    return info;
}

void KZSongTagCntrl::songDurationWithURL(const fs::path& url, KZSongInfo& info, const QString& fileExtension) const
{
    try {
        const auto file = openSong(url, hintForFileExtension(extensionOf(url, fileExtension)), true);
        const TagLib::AudioProperties* properties = file ? file->audioProperties() : nullptr;
        if (!properties)
            return;
        info.setBitRate(static_cast<quint32>(std::max(0, properties->bitrate())));
        info.setDuration(std::max(0, properties->lengthInMilliseconds()) / 1000);
    } catch (...) {
        info.setBitRate(0);
        info.setDuration(0);
    }
}

KZSongTagCntrl::FileType KZSongTagCntrl::hintForFileExtension(const QString& extension)
{
    if (extension == QLatin1String("mp3"))
        return FileType::MPEG;
    if (extension == QLatin1String("wav"))
        return FileType::WAVE;
    if (extension == QLatin1String("aifc") || extension == QLatin1String("aiff"))
        return FileType::AIFF;
    if (extension == QLatin1String("m4a") || extension == QLatin1String("mp4") || extension == QLatin1String("m4p")
        || extension == QLatin1String("m4b"))
        return FileType::MP4;
    if (extension == QLatin1String("flac"))
        return FileType::FLAC;
    return FileType::Unknown;
}

KZSongTagCntrl::FileType KZSongTagCntrl::typeOfContent(const fs::path& url)
{
    std::string head = readBytes(url, 0, 12);
    // An ID3 tag in front says nothing of the audio behind it.
    off_t audioStart = 0;
    if (head.size() >= 10 && head.compare(0, 3, "ID3") == 0) {
        const auto b = [&](std::size_t i) { return static_cast<unsigned char>(head[i]) & 0x7f; };
        audioStart = 10 + ((b(6) << 21) | (b(7) << 14) | (b(8) << 7) | b(9));
        if (static_cast<unsigned char>(head[5]) & 0x10)
            audioStart += 10;
        head = readBytes(url, audioStart, 12);
        if (head.compare(0, 4, "fLaC") == 0)
            return FileType::FLAC;
        return FileType::MPEG;
    }
    if (head.size() < 4)
        return FileType::Unknown;
    if (head.compare(0, 4, "fLaC") == 0)
        return FileType::FLAC;
    const auto u = [&](std::size_t i) { return static_cast<unsigned char>(head[i]); };
    // A frame sync with a layer other than 0 (0 is raw AAC, which the MPEG
    // reader does not take).
    if (u(0) == 0xff && (u(1) & 0xe0) == 0xe0 && (u(1) & 0x06) != 0)
        return FileType::MPEG;
    if (head.size() < 12)
        return FileType::Unknown;
    if (head.compare(0, 4, "RIFF") == 0 && head.compare(8, 4, "WAVE") == 0)
        return FileType::WAVE;
    if (head.compare(0, 4, "FORM") == 0 && (head.compare(8, 4, "AIFF") == 0 || head.compare(8, 4, "AIFC") == 0))
        return FileType::AIFF;
    if (head.compare(4, 4, "ftyp") == 0)
        return FileType::MP4;
    return FileType::Unknown;
}

QString KZSongTagCntrl::yearOfDateTag(const QString& text)
{
    // Tags hold a year alone as often as a full date; both begin with it.
    const QString trimmed = text.trimmed();
    if (trimmed.size() < 4)
        return {};
    for (int i = 0; i < 4; ++i) {
        if (trimmed.at(i) < u'0' || trimmed.at(i) > u'9')
            return {};
    }
    if (trimmed.size() > 4 && !QStringLiteral("-/T :").contains(trimmed.at(4)))
        return {};
    return trimmed.left(4);
}
