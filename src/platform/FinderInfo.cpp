#include "platform/FinderInfo.h"

#include "platform/ExtendedAttributes.h"
#include "platform/FileOps.h"
#include "platform/Paths.h"

#include <algorithm>

namespace platform {

namespace {

quint32 readBE32(const std::array<uint8_t, 32>& b, size_t at)
{
    return (quint32(b[at]) << 24) | (quint32(b[at + 1]) << 16) | (quint32(b[at + 2]) << 8) | quint32(b[at + 3]);
}

void writeBE32(std::array<uint8_t, 32>& b, size_t at, quint32 v)
{
    b[at] = uint8_t(v >> 24);
    b[at + 1] = uint8_t(v >> 16);
    b[at + 2] = uint8_t(v >> 8);
    b[at + 3] = uint8_t(v);
}

} // namespace

quint32 FinderInfo::fileType() const { return readBE32(bytes, 0); }
quint32 FinderInfo::creator() const { return readBE32(bytes, 4); }
quint16 FinderInfo::flags() const { return quint16((quint16(bytes[8]) << 8) | bytes[9]); }

void FinderInfo::setFileType(quint32 type) { writeBE32(bytes, 0, type); }
void FinderInfo::setCreator(quint32 code) { writeBE32(bytes, 4, code); }

void FinderInfo::setFlags(quint16 value)
{
    bytes[8] = uint8_t(value >> 8);
    bytes[9] = uint8_t(value);
}

void FinderInfo::setLabelColor(int label)
{
    setFlags(quint16((flags() & ~kLabelMask) | ((quint16(label) & 7) << 1)));
}

bool FinderInfo::isZero() const
{
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

FinderInfo readFinderInfo(const std::filesystem::path& path, bool followLinks)
{
    FinderInfo info;
    QByteArray value;
    if (getExtendedAttribute(path, kFinderInfoAttribute, &value, followLinks) != XattrResult::Ok)
        return info;
    // A short record is damaged, not a partial one: treat it as absent.
    if (value.size() < qsizetype(info.bytes.size()))
        return info;
    std::copy_n(reinterpret_cast<const uint8_t*>(value.constData()), info.bytes.size(), info.bytes.begin());
    return info;
}

bool writeFinderInfo(const std::filesystem::path& path, const FinderInfo& info, QString* error)
{
    int err = 0;
    XattrResult result;
    if (info.isZero()) {
        result = removeExtendedAttribute(path, kFinderInfoAttribute, false, &err);
        if (result == XattrResult::NotFound)
            return true;
    } else {
        const QByteArray value(reinterpret_cast<const char*>(info.bytes.data()), qsizetype(info.bytes.size()));
        result = setExtendedAttribute(path, kFinderInfoAttribute, value, false, &err);
    }
    if (result == XattrResult::Ok)
        return true;
    if (error) {
        *error = QStringLiteral("Cannot write the Finder information of \u201c%1\u201d: %2")
                     .arg(platform::pathText(path), systemErrorString(err));
    }
    return false;
}

quint32 osTypeFromString(QStringView fourChars)
{
    if (fourChars.isEmpty())
        return 0;
    quint32 code = 0;
    for (qsizetype i = 0; i < 4; ++i) {
        uint8_t byte = ' ';
        if (i < fourChars.size()) {
            const char16_t c = fourChars.at(i).unicode();
            byte = c <= 0xFF ? uint8_t(c) : uint8_t('?');
        }
        code = (code << 8) | byte;
    }
    return code;
}

QString stringFromOSType(quint32 code)
{
    QString text;
    if (code == 0)
        return text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = uint8_t(code >> shift);
        if (byte != 0)
            text.append(QChar(char16_t(byte)));
    }
    return text;
}

} // namespace platform
