#pragma once

#include "engine/KZNodeCache.h"

#include <QtGlobal>

// What an image comparison knows of one picture: the byte length of its
// decoded pixels and the CRC of their SHA-1 digest.
class KZImageRecord final : public KZNodeCache {
public:
    KZImageRecord(quint32 pixelLength, quint32 crc) : KZNodeCache(Kind::Image), pixelLength_(pixelLength), crc_(crc) {}

    quint32 pixelLength() const { return pixelLength_; }
    quint32 crc() const { return crc_; }

private:
    quint32 pixelLength_;
    quint32 crc_;
};
