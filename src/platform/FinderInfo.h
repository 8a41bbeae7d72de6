#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <filesystem>

namespace platform {

// The 32-byte Finder information record kept in the extended attribute
// "user.com.apple.FinderInfo" (the layout that file servers and copies from
// other systems use): type code in bytes 0-3, creator in 4-7, big-endian
// flags at 8-9; the rest is carried along untouched.
struct FinderInfo {
    static constexpr quint16 kHasCustomIcon = 0x0400;
    static constexpr quint16 kIsInvisible = 0x4000;
    static constexpr quint16 kIsAlias = 0x8000;
    static constexpr quint16 kLabelMask = 0x000E;

    std::array<uint8_t, 32> bytes{};

    quint32 fileType() const;
    quint32 creator() const;
    quint16 flags() const;
    bool hasCustomIcon() const { return flags() & kHasCustomIcon; }
    bool isInvisible() const { return flags() & kIsInvisible; }
    bool isAliasFlag() const { return flags() & kIsAlias; }
    int labelColor() const { return (flags() >> 1) & 7; } // 0 = none, 1..7

    void setFileType(quint32 type);
    void setCreator(quint32 creator);
    void setFlags(quint16 flags);
    void setLabelColor(int label); // 0..7; only the low three bits are used

    bool isZero() const;
    bool operator==(const FinderInfo&) const = default;
};

inline constexpr const char* kFinderInfoAttribute = "user.com.apple.FinderInfo";

// All zeros when the attribute is absent, shorter than 32 bytes, or the file
// system refuses extended attributes: for every caller that simply means "no
// flags set". With followLinks false a symbolic link is read itself.
FinderInfo readFinderInfo(const std::filesystem::path& path, bool followLinks = false);

// Writes the record on the item itself (a symbolic link is not followed, and
// most file systems refuse user attributes on links). An all-zero record
// removes the attribute, since absence already means zero.
bool writeFinderInfo(const std::filesystem::path& path, const FinderInfo& info,
                     QString* error = nullptr);

// Four-character codes, big-endian: "TEXT" -> 0x54455854. Each character is
// taken as Latin-1 (others become '?'); a shorter text is padded with spaces
// on the right, as the codes "pdf " or "MP3 " are written; a longer one keeps
// its first four characters. An empty text is 0.
quint32 osTypeFromString(QStringView fourChars);

// The reverse; 0 gives an empty string. NUL bytes are left out.
QString stringFromOSType(quint32 code);

} // namespace platform
