#include "engine/KZItemFilters.h"

#include "engine/KZItemAttributes.h"
#include "engine/KZItemReader.h"
#include "platform/FinderInfo.h"
#include "platform/Log.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZSearchCriteria.h"

#include <algorithm>
#include <array>

namespace {

constexpr quint32 code(const char (&s)[5])
{
    return (quint32(quint8(s[0])) << 24) | (quint32(quint8(s[1])) << 16) | (quint32(quint8(s[2])) << 8)
        | quint32(quint8(s[3]));
}

constexpr std::array<quint32, 3> kFontTypes{code("FFIL"), code("LWFN"), code("tfil")};

constexpr std::array<quint32, 15> kNonDocumentTypes{
    code("APPL"), code("cdev"), code("APPC"), code("INIT"), code("pref"), code("FFIL"), code("LWFN"), code("tfil"),
    code("sfil"), code("BNDL"), code("COM "), code("Comp"), code("iLIB"), code("shlb"), code("stub")};

constexpr std::array<quint32, 25> kSoundTypes{
    code("sfil"), code("AIFF"), code("WAVE"), code("MPG "), code("AIFC"), code(".WAV"), code("mpg4"),
    code("M4A "), code("PLAY"), code("MP3U"), code("PLS "), code("RMP "), code("mp3!"), code("MP3!"),
    code("MPG3"), code("mpg3"), code("Mp3 "), code("MP3 "), code("MPG2"), code("MPEG"), code("Sd2f"),
    code("MooV"), code("AUDB"), code("M4P "), code("M4B ")};

template <std::size_t N>
bool listed(const std::array<quint32, N>& codes, quint32 type)
{
    return std::find(codes.begin(), codes.end(), type) != codes.end();
}

bool inList(std::initializer_list<const char16_t*> list, const QString& value)
{
    return std::any_of(list.begin(), list.end(),
                       [&](const char16_t* entry) { return value == QStringView(entry); });
}

bool isFontExtension(const QString& extension)
{
    return inList({u"ttf", u"dfont", u"otf"}, extension);
}

bool isSoundExtension(const QString& extension)
{
    return inList({u"aif", u"aiff", u"m3u", u"pls", u"rmp", u"mp3", u"mp2", u"aifc", u"wav", u"wave", u"mpg",
                   u"nvf", u"cdda", u"aa", u"m4a", u"m4p", u"m4b", u"au", u"mid", u"snd", u"AIF", u"AIFF"},
                  extension);
}

bool isPlainFolder(const KZSearchItemInfo& item)
{
    return item.isDirectory() && !item.isPackage();
}

bool beginsWithDot(const QString& name)
{
    return name.startsWith(QLatin1Char('.'));
}

} // namespace

KZItemFilters::KZItemFilters(const KZSearchCriteria& criteria, const KZItemReader& reader,
                             const KZFilesUtilities& fileCntrl)
    : criteria_(criteria), reader_(reader), fileCntrl_(fileCntrl),
      typesForCheckContent_(fileCntrl.typesFormattedToCheckWithSelector(&KZFilesUtilities::imagesForContentCheckTypes)),
      extensionsForCheckContent_(fileCntrl.imagesContentCheckExtensions())
{
    // Bitmaps decode to the same pixels as any other container, so a picture
    // kept both as PNG and as BMP is one picture. The file-type tables keep
    // their stored lists; only the choice of image items takes it in.
    extensionsForCheckContent_.append(QStringLiteral("bmp"));
    for (const char* code : {"BMP ", "BMPf"})
        typesForCheckContent_.push_back(platform::osTypeFromString(QString::fromLatin1(code)));
}

const QString& KZItemFilters::NameForms::name() const
{
    if (!name_)
        name_ = item_.originalName();
    return *name_;
}

const QString& KZItemFilters::NameForms::extension() const
{
    if (!extension_)
        extension_ = KZSearchItemInfo::extensionOfName(name());
    return *extension_;
}

QString KZItemFilters::NameForms::nameWithOption(bool withoutExtension) const
{
    return withoutExtension ? KZSearchItemInfo::nameWithoutExtension(name()) : name();
}

void KZItemFilters::NameForms::forget()
{
    name_.reset();
    extension_.reset();
}

bool KZItemFilters::checkForNotSameUniqueCriteria(KZSearchItemInfo& item) const
{
    const KZSearchCriteria& c = criteria_;
    const bool filesSearch = c.excludeFolder();
    NameForms names(item);

    if (!passesVisibility(item, names) || !passesCustomIcon(item))
        return false;

    if (c.isLockedIs() ? !item.isLocked() : (c.isLockedNot() && item.isLocked()))
        return false;

    if (!passesLabel(item))
        return false;

    if (filesSearch && c.isEmptyFile()) {
        if (item.isPackage() && item.multiPurposeInfo() != 0)
            return false;
        if (item.totSize() != 0)
            return false;
    }

    // With an extension filter too, the type filter is one of two ways in:
    // its verdict waits for the extension test.
    bool typeTestFailed = false;
    if (filesSearch && c.isTypeNoSameUnique()) {
        const auto& types = c.types();
        const auto used = types.begin() + qsizetype(std::min<quint64>(c.typesCount(), types.size()));
        const bool typeListed = item.type() != 0 && std::find(types.begin(), used, item.type()) != used;
        if ((c.isTypeIs() && !typeListed) || (c.isTypeNot() && typeListed)) {
            if (!c.isExtensionNoSameUnique())
                return false;
            typeTestFailed = true;
        }
    }
    const bool typeTestPassed = c.isTypeNoSameUnique() && !typeTestFailed;

    if (c.isFolderEmpty() || c.isFolderNotEmpty()) {
        if (!isPlainFolder(item))
            return false;
        const bool empty = startCheckForEmptyFolder(item);
        names.forget(); // the item may now be a folder above
        if (c.isFolderEmpty() ? !empty : empty)
            return false;
    }

    isImageContent(item, names);

    if (filesSearch && c.isSize() && !passesSize(item))
        return false;

    if (filesSearch && !passesKind(item, names))
        return false;

    if (c.isKindFolder()) {
        if (c.isKindIs() && !isPlainFolder(item))
            return false;
        if (c.isKindNot() && isPlainFolder(item))
            return false;
    }

    if (filesSearch && c.isCompressedFile() && !fileCntrl_.isCompressed(item.type(), names.extension()))
        return false;

    if (c.isName() && !passesName(names))
        return false;

    if (c.isExtensionNoSameUnique() && !passesExtension(item, names, typeTestPassed))
        return false;

    if (c.isSongTags() && item.isPackage())
        return false;

    if (c.isFolderCompareContent() && !c.isOnlyContent()) {
        platform::logLine(QStringLiteral("checkForNotSameUniqueCriteria - ") + names.name());
        reader_.setCurrPackagesVariables(item);
    }
    return true;
}

bool KZItemFilters::passesVisibility(const KZSearchItemInfo& item, const NameForms& names) const
{
    const bool visible = criteria_.isVisible();
    const bool invisible = criteria_.isInvisible();
    if (visible && invisible)
        return true;
    if (visible)
        return !beginsWithDot(names.name());
    if (invisible) {
        if (beginsWithDot(names.name()))
            return true;
        const auto flags = item.finderFlags();
        return flags && (*flags & platform::FinderInfo::kIsInvisible) != 0;
    }
    return true;
}

bool KZItemFilters::passesCustomIcon(const KZSearchItemInfo& item) const
{
    if (!criteria_.isHasCustomIcon() && !criteria_.isHasCustomIconNot())
        return true;
    const auto flags = item.finderFlags();
    const bool hasIcon = flags && (*flags & platform::FinderInfo::kHasCustomIcon) != 0;
    return criteria_.isHasCustomIcon() ? hasIcon : !hasIcon;
}

bool KZItemFilters::passesLabel(const KZSearchItemInfo& item) const
{
    if (!criteria_.isLabelIs() && !criteria_.isLabelNot())
        return true;
    // An item whose flags were never read has no label to judge.
    const auto flags = item.finderFlags();
    if (!flags)
        return false;
    platform::FinderInfo info;
    info.setFlags(*flags);
    const bool same = qint16(info.labelColor()) == qint16(criteria_.whichLabel());
    return criteria_.isLabelIs() ? same : !same;
}

bool KZItemFilters::passesSize(const KZSearchItemInfo& item) const
{
    const KZSearchCriteria& c = criteria_;
    const quint64 total = item.totSize();
    if (c.isSkipData() && total <= c.skipDataValue())
        return false;
    if (c.isLimitSize()) {
        if (c.isLimitSizeLessOrEqual()) {
            if (total > c.limitSizeValue())
                return false;
        } else if (c.isLimitSizeGreaterOrEqual()) {
            if (total < c.limitSizeValue())
                return false;
        } else if (c.isLimitSizeBetween()) {
            if (total < c.limitSizeValue() || total > c.limitSizeBetweenValue())
                return false;
        }
    }
    if (!item.isImageContent() && c.isTotalSize()) {
        if (c.isSizeIs())
            return total == c.sizeValue();
        if (c.isSizeLess())
            return total < c.sizeValue();
        if (c.isSizeGreater())
            return total > c.sizeValue();
        if (c.isSizeBetween())
            return total >= c.sizeValue() && total <= c.sizeBetweenValue();
        if (c.isSizeNotBetween())
            return total < c.sizeValue() || total > c.sizeBetweenValue();
    }
    return true;
}

bool KZItemFilters::passesKind(const KZSearchItemInfo& item, const NameForms& names) const
{
    const KZSearchCriteria& c = criteria_;
    if (!c.isKindIs() && !c.isKindNot())
        return true;
    const bool is = c.isKindIs();
    if (c.isKindAlias())
        return is ? item.isAlias() : !item.isAlias();
    if (c.isKindFont()) {
        const bool font = listed(kFontTypes, item.type()) || isFontExtension(names.extension());
        return is ? font : !font;
    }
    if (c.isKindDocument()) {
        const bool document = !(listed(kNonDocumentTypes, item.type()) || item.isAlias() || item.isApplication());
        return is ? document : !document;
    }
    if (c.isKindSound())
        return is == isSoundItem(item, names);
    return true;
}

bool KZItemFilters::passesName(const NameForms& names) const
{
    const QString raw = names.nameWithOption(criteria_.noExtensionCompare());
    if (raw.isEmpty())
        return false;
    // The criteria keep their text in compatibility decomposition; names on
    // Linux mostly arrive composed, so both sides meet in the same form.
    const QString name = raw.normalized(QString::NormalizationForm_KD);
    const QString& wanted = criteria_.name();
    const KZSearchCriteria& c = criteria_;
    if (c.isNameContains())
        return name.contains(wanted, Qt::CaseInsensitive);
    if (c.isNameStart())
        return name.startsWith(wanted, Qt::CaseInsensitive);
    if (c.isNameEnd())
        return name.endsWith(wanted, Qt::CaseInsensitive);
    if (c.isNameIs())
        return name.compare(wanted, Qt::CaseInsensitive) == 0;
    if (c.nameIsNot())
        return name.compare(wanted, Qt::CaseInsensitive) != 0;
    if (c.nameDoesntContains())
        return !name.contains(wanted, Qt::CaseInsensitive);
    return true;
}

bool KZItemFilters::passesExtension(const KZSearchItemInfo& item, const NameForms& names, bool typeTestPassed) const
{
    const KZSearchCriteria& c = criteria_;
    if (!reader_.nameForSearch(names.name(), item))
        return typeTestPassed;
    const QString& extension = names.extension();
    if (extension.isEmpty())
        return !c.isExtensionIs();
    const bool extensionListed = reader_.extensionIsSame(extension);
    if ((c.isExtensionIs() && !extensionListed) || (c.isExtensionNot() && extensionListed))
        return typeTestPassed;
    return true;
}

bool KZItemFilters::isSoundItem(const KZSearchItemInfo& item) const
{
    return isSoundItem(item, NameForms(item));
}

bool KZItemFilters::isSoundItem(const KZSearchItemInfo& item, const NameForms& names) const
{
    if (listed(kSoundTypes, item.type()))
        return true;
    if (!reader_.nameForSearch(names.name(), item))
        return false;
    return isSoundExtension(names.extension());
}

bool KZItemFilters::checkForEmptyFolder(const std::filesystem::path& folder) const
{
    return reader_.checkForEmptyFolder(folder);
}

bool KZItemFilters::startCheckForEmptyFolder(KZSearchItemInfo& item) const
{
    if (!criteria_.isNestedEmptied()) {
        if (const std::optional<bool> known = item.emptyAsScanned())
            return *known;
        return checkForEmptyFolder(item.url());
    }

    std::filesystem::path current = item.url();
    std::filesystem::path topmost;
    int levels = 0;
    while (checkForEmptyFolder(current)) {
        topmost = current;
        ++levels;
        std::filesystem::path parent = KZItemAttributes::parentDirectoryWithURL(current);
        if (parent.empty())
            return true;
        current = std::move(parent);
    }
    if (levels == 0)
        return false;
    if (levels > 1) {
        const qint16 label = item.label();
        item.initializeVariables();
        item.setUrl(topmost);
        const KZItemAttributes attributes = KZItemAttributes::read(topmost);
        const std::optional<QString> name = attributes.fileName();
        // An item that can no longer be read is no candidate at all.
        if (!reader_.setCurrVariables(item, label, attributes) || !name) {
            item.initializeVariables();
            return false;
        }
        item.setOriginalName(*name);
    }
    return true;
}

void KZItemFilters::isImageContent(KZSearchItemInfo& item) const
{
    isImageContent(item, NameForms(item));
}

void KZItemFilters::isImageContent(KZSearchItemInfo& item, const NameForms& names) const
{
    item.setIsImageContent(false);
    if (!criteria_.isImageContent() || !criteria_.isCompareContent() || item.totSize() == 0)
        return;
    if (!reader_.nameForSearch(names.name(), item))
        return;
    item.setIsImageContent(isImageForContentCheck(item.type(), names.extension()));
}

bool KZItemFilters::isImageForContentCheck(quint32 type, const QString& extension) const
{
    if (type != 0
        && std::find(typesForCheckContent_.begin(), typesForCheckContent_.end(), type) != typesForCheckContent_.end())
        return true;
    return !extension.isEmpty() && extensionsForCheckContent_.contains(extension, Qt::CaseSensitive);
}
