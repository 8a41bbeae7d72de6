#pragma once

#include "engine/KZNodeCache.h"

#include <QtGlobal>

#include <array>
#include <cstring>

// What an image comparison knows of one picture: its dimensions, the byte
// length of its pixels in the one format every picture is converted to, and
// the digest of those pixels. Two pictures are the same only when the whole
// digest is equal: a short checksum would let different pictures collide.
class KZImageRecord final : public KZNodeCache {
public:
    using Digest = std::array<quint8, 32>;

    KZImageRecord(quint64 pixelLength, quint32 width, quint32 height, const Digest& digest)
        : KZNodeCache(Kind::Image), pixelLength_(pixelLength), width_(width), height_(height), digest_(digest) {}

    quint64 pixelLength() const { return pixelLength_; }
    quint32 width() const { return width_; }
    quint32 height() const { return height_; }
    const Digest& digest() const { return digest_; }

    // 0 the same picture; otherwise -1 or 1, a stable order for the tree.
    qint16 compare(const KZImageRecord& other) const
    {
        if (pixelLength_ != other.pixelLength_)
            return other.pixelLength_ < pixelLength_ ? -1 : 1;
        if (width_ != other.width_)
            return other.width_ < width_ ? -1 : 1;
        const int r = std::memcmp(digest_.data(), other.digest_.data(), digest_.size());
        return r == 0 ? 0 : (r > 0 ? -1 : 1);
    }

private:
    quint64 pixelLength_;
    quint32 width_;
    quint32 height_;
    Digest digest_;
};
