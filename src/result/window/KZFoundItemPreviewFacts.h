#pragma once

#include "result/window/KZPreviewFacts.h"

// The preview's facts as the found pictures and songs know them: a picture's
// date taken, camera and position from its own metadata, a song's tags,
// time and bit rate from the music library or the file. A picture whose
// pixel size its metadata does not give keeps the size a preview decoded,
// which `fallback` remembers.
class KZFoundItemPreviewFacts : public KZPreviewFacts {
public:
    // `fallback` must outlive this object; it is typically the built-in
    // instance that KZPreviewFacts::shared() answered before this one.
    explicit KZFoundItemPreviewFacts(KZPreviewFacts& fallback) : fallback_(fallback) {}

    KZPreviewImageFacts imageFacts(const KZFoundItemRef& item) const override;
    KZPreviewSongFacts songFacts(const KZFoundItemRef& item) const override;
    void notePixelSize(const KZFoundItemRef& item, QSize size) override;

private:
    KZPreviewFacts& fallback_;
};
