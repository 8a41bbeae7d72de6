#include "result/window/KZFoundItemPreviewFacts.h"

#include "result/model/KZFoundImage.h"
#include "result/model/KZFoundSong.h"

KZPreviewImageFacts KZFoundItemPreviewFacts::imageFacts(const KZFoundItemRef& item) const
{
    KZPreviewImageFacts facts = fallback_.imageFacts(item);
    const auto image = std::dynamic_pointer_cast<KZFoundImage>(item);
    if (!image)
        return facts;
    facts.dateTaken = image->formattedDateTaken();
    facts.camera = image->camera();
    // A picture without a position has neither a reference nor degrees:
    // that is no position, not one on the equator.
    if (!image->latitudeRef().isEmpty() || image->latitude() != 0)
        facts.latitude = image->formattedLatitude();
    if (!image->longitudeRef().isEmpty() || image->longitude() != 0)
        facts.longitude = image->formattedLongitude();
    if (image->width() > 0 && image->height() > 0) {
        facts.width = quint32(image->width());
        facts.height = quint32(image->height());
    }
    return facts;
}

KZPreviewSongFacts KZFoundItemPreviewFacts::songFacts(const KZFoundItemRef& item) const
{
    KZPreviewSongFacts facts = fallback_.songFacts(item);
    const auto song = std::dynamic_pointer_cast<KZFoundSong>(item);
    if (!song)
        return facts;
    facts.songName = song->songName();
    facts.artist = song->artist();
    facts.album = song->album();
    // A length or rate that could not be read is unknown, not zero.
    if (song->duration() > 0)
        facts.time = song->formattedTime();
    if (song->bitRate() > 0)
        facts.bitRate = song->formattedBitRate();
    return facts;
}

void KZFoundItemPreviewFacts::notePixelSize(const KZFoundItemRef& item, QSize size)
{
    fallback_.notePixelSize(item, size);
}
