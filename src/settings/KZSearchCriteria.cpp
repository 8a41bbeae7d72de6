#include "settings/KZSearchCriteria.h"

#include "platform/FinderInfo.h"
#include "services/KZDateUtilities.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZPlistValue.h"

#include <QDateTime>
#include <QMetaType>
#include <QVariant>
#include <QVariantList>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <optional>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Absent or mistyped keys read as NO, 0 or nothing.
using KZPlistValue::boolValue;
using KZPlistValue::doubleValue;
using KZPlistValue::integerValue;
using KZPlistValue::listValue;
using KZPlistValue::mapValue;
using KZPlistValue::stringValue;
using KZPlistValue::unsigned64Value;

// The duration is a real number of seconds truncated to 32 bits.
quint32 truncatedUnsigned32(const QVariantMap& map, const QString& key)
{
    const QVariant v = map.value(key);
    const double d = KZPlistValue::toDouble(v);
    if (!KZPlistValue::isNumber(v) || d < 0.0 || d >= 4294967296.0)
        return 0;
    return static_cast<quint32>(d);
}

KZSearchCriteria::CharacterSet characterSet(const QString& text)
{
    KZSearchCriteria::CharacterSet set;
    for (char32_t c : text.toUcs4())
        set.insert(c);
    return set;
}

// A creator code in its quoted form 'XXXX'; anything else is no code.
quint32 quotedTypeCode(const QString& text)
{
    if (text.size() != 6 || text.front() != u'\'' || text.back() != u'\'')
        return 0;
    return platform::osTypeFromString(QStringView(text).mid(1, 4));
}

// Seconds since the reference date of the start of the local day of a date
// text; nothing when the text is not a date.
std::optional<double> dayStartOfDateText(const QString& text)
{
    const QDateTime date = KZDateUtilities::dateWithString(text);
    if (!date.isValid())
        return std::nullopt;
    return KZDateUtilities::sharedControl().convertDateOfCurrFile(
        KZDateUtilities::timeIntervalSinceReferenceDate(date));
}

double dateSeconds(const QString& text)
{
    return dayStartOfDateText(text).value_or(0.0);
}

// Photo dates count whole seconds from 1 January 1904 GMT, which lies a whole
// number of days before the reference date. A date outside what 32 bits hold
// is no date.
quint32 photoDateSeconds(const QString& text)
{
    constexpr double secondsFrom1904To2001 = 3061152000.0;
    const std::optional<double> dayStart = dayStartOfDateText(text);
    if (!dayStart)
        return 0;
    const double since1904 = std::floor(*dayStart + secondsFrom1904To2001);
    if (since1904 < 0.0 || since1904 > double(std::numeric_limits<quint32>::max()))
        return 0;
    return static_cast<quint32>(since1904);
}

double degrees(const QVariantMap& map, const QString& degreesKey, const QString& minutesKey,
               const QString& secondsKey)
{
    return double(integerValue(map, degreesKey)) + double(integerValue(map, minutesKey)) / 60.0
        + doubleValue(map, secondsKey) / 3600.0;
}

} // namespace

// ---- Parser ------------------------------------------------------------------

class KZSearchCriteria::Parser {
public:
    using Flag = bool KZSearchCriteria::*;

    Parser(KZSearchCriteria& criteria, const QVariantMap& dict) : c(criteria), d(dict) {}

    void run();

private:
    // The parameters of a switched-on group; nothing when the switch is off.
    std::optional<QVariantMap> group(const QString& switchKey, const QString& structKey)
    {
        if (!boolValue(d, switchKey))
            return std::nullopt;
        c.isOnlyDead_ = false;
        return mapValue(d, structKey);
    }

    // Sets the group's same flag, or else its unique flag; a group with
    // neither is a filter, and only then are its filter keys read.
    bool isFilter(const QVariantMap& p, Flag same, Flag unique, bool sameEndsOnlyContent = true)
    {
        if (boolValue(p, u"isSame"_s)) {
            c.*same = true;
            if (sameEndsOnlyContent)
                c.isOnlyContent_ = false;
            return false;
        }
        if (boolValue(p, u"isUnique"_s)) {
            c.*unique = true;
            return false;
        }
        return true;
    }

    // Operator n (1-based) sets the n-th flag; gaps and values outside the
    // table set nothing.
    void pick(qint64 which, std::initializer_list<Flag> operators)
    {
        if (which < 1 || which > qint64(operators.size()))
            return;
        if (const Flag flag = operators.begin()[which - 1])
            c.*flag = true;
    }

    // How many flags that compare or filter are set; the flags that only
    // qualify another (a kind's value, an axis, a modifier) or that the
    // groups derive do not count.
    int decidingFlagCount() const;
    // Runs one group's reading and notes its switch when the group is on
    // and set nothing that decides.
    template <typename Step>
    void tracked(const QString& switchKey, Step&& step)
    {
        const int before = decidingFlagCount();
        step();
        if (boolValue(d, switchKey) && decidingFlagCount() == before)
            c.groupsWithoutSettings_.append(switchKey);
    }

    void nameGroup();
    void dateGroup(const QString& switchKey, const QString& structKey, std::initializer_list<Flag> flags,
                   double& secs, double& betweenSecs);
    void extensionGroup();
    void creatorGroup();
    void sizeGroup();
    void contentGroup();
    void emptyFileGroup();
    void customIconGroup();
    void lockedGroup();
    void visibilityGroup();
    void folderGroup();
    void kindGroup();
    void labelGroup();
    void permissionsGroup();
    void songTextGroup(const QString& switchKey, const QString& structKey, std::initializer_list<Flag> flags,
                       QString& value);
    void yearGroup();
    void durationGroup();
    void songOptions();
    void specialGroup();
    void dateTakenGroup();
    void locationGroup();
    void pixelsGroup();
    void cameraGroup();
    void photoOptions();
    void excludedApps();
    void photoDefault();

    KZSearchCriteria& c;
    const QVariantMap& d;
};

void KZSearchCriteria::Parser::run()
{
    tracked(u"isName"_s, [&] { nameGroup(); });
    tracked(u"isModified"_s, [&] {
        dateGroup(u"isModified"_s, u"modifiedStruct"_s,
                  {&KZSearchCriteria::isSameModified_, &KZSearchCriteria::isUniqueModified_,
                   &KZSearchCriteria::isModifiedIs_, &KZSearchCriteria::isModifiedBefore_,
                   &KZSearchCriteria::isModifiedAfter_, &KZSearchCriteria::isModifiedNot_,
                   &KZSearchCriteria::isModifiedToday_, &KZSearchCriteria::isModifiedYesterday_,
                   &KZSearchCriteria::isModifiedBetween_, &KZSearchCriteria::isModifiedNotBetween_},
                  c.modSecs_, c.modBetweenSecs_);
    });
    tracked(u"isCreated"_s, [&] {
        dateGroup(u"isCreated"_s, u"createdStruct"_s,
                  {&KZSearchCriteria::isSameCreated_, &KZSearchCriteria::isUniqueCreated_,
                   &KZSearchCriteria::isCreatedIs_, &KZSearchCriteria::isCreatedBefore_,
                   &KZSearchCriteria::isCreatedAfter_, &KZSearchCriteria::isCreatedNot_,
                   &KZSearchCriteria::isCreatedToday_, &KZSearchCriteria::isCreatedYesterday_,
                   &KZSearchCriteria::isCreatedBetween_, &KZSearchCriteria::isCreatedNotBetween_},
                  c.createdSecs_, c.createdBetweenSecs_);
    });
    tracked(u"isExtension"_s, [&] { extensionGroup(); });
    tracked(u"isCreator"_s, [&] { creatorGroup(); });
    tracked(u"isSize"_s, [&] { sizeGroup(); });
    tracked(u"isContent"_s, [&] { contentGroup(); });
    tracked(u"isEmptyFile"_s, [&] { emptyFileGroup(); });
    tracked(u"isHasCustomIcon"_s, [&] { customIconGroup(); });
    tracked(u"isLocked"_s, [&] { lockedGroup(); });
    visibilityGroup(); // which items are looked at, never a comparison
    tracked(KZCriteriaKey::isFolder, [&] { folderGroup(); });
    tracked(u"isKind"_s, [&] { kindGroup(); });
    tracked(u"isLabel"_s, [&] { labelGroup(); });
    tracked(u"isPermissions"_s, [&] { permissionsGroup(); });
    tracked(u"isSongName"_s, [&] {
        songTextGroup(u"isSongName"_s, u"songNameStruct"_s,
                      {&KZSearchCriteria::isSongNameSame_, &KZSearchCriteria::isSongNameUnique_,
                       &KZSearchCriteria::isSongNameContains_, &KZSearchCriteria::isSongNameStart_,
                       &KZSearchCriteria::isSongNameEnd_, &KZSearchCriteria::isSongNameIs_,
                       &KZSearchCriteria::isSongNameIsNot_, &KZSearchCriteria::isSongNameDoesntContain_},
                      c.songName_);
    });
    tracked(u"isArtist"_s, [&] {
        songTextGroup(u"isArtist"_s, u"artistStruct"_s,
                      {&KZSearchCriteria::isSameArtist_, &KZSearchCriteria::isUniqueArtist_,
                       &KZSearchCriteria::isArtistContains_, &KZSearchCriteria::isArtistStart_,
                       &KZSearchCriteria::isArtistEnd_, &KZSearchCriteria::isArtistIs_,
                       &KZSearchCriteria::isArtistIsNot_, &KZSearchCriteria::isArtistDoesntContain_},
                      c.artistName_);
    });
    tracked(u"isAlbum"_s, [&] {
        songTextGroup(u"isAlbum"_s, u"albumStruct"_s,
                      {&KZSearchCriteria::isSameAlbum_, &KZSearchCriteria::isUniqueAlbum_,
                       &KZSearchCriteria::isAlbumContains_, &KZSearchCriteria::isAlbumStart_,
                       &KZSearchCriteria::isAlbumEnd_, &KZSearchCriteria::isAlbumIs_,
                       &KZSearchCriteria::isAlbumIsNot_, &KZSearchCriteria::isAlbumDoesntContain_},
                      c.albumName_);
    });
    tracked(u"isGenre"_s, [&] {
        songTextGroup(u"isGenre"_s, u"genreStruct"_s,
                      {&KZSearchCriteria::isSameGenre_, &KZSearchCriteria::isUniqueGenre_,
                       &KZSearchCriteria::isGenreContains_, &KZSearchCriteria::isGenreStart_,
                       &KZSearchCriteria::isGenreEnd_, &KZSearchCriteria::isGenreIs_,
                       &KZSearchCriteria::isGenreIsNot_, &KZSearchCriteria::isGenreDoesntContain_},
                      c.genreName_);
    });
    tracked(u"isYear"_s, [&] { yearGroup(); });
    tracked(u"isDuration"_s, [&] { durationGroup(); });
    songOptions();
    tracked(u"isSpecial"_s, [&] { specialGroup(); });
    tracked(u"isDateTaken"_s, [&] { dateTakenGroup(); });
    tracked(u"isLocationTaken"_s, [&] { locationGroup(); });
    tracked(u"isPixelsSize"_s, [&] { pixelsGroup(); });
    tracked(u"isCameraModel"_s, [&] { cameraGroup(); });
    photoOptions();
    excludedApps();

    c.isDuration_ = c.isSameDuration_ || c.isUniqueDuration_ || c.isDurationIs_ || c.isDurationLess_
        || c.isDurationGreater_;
    // Judged before the photo groups' own image filter below, which every
    // photo group adds whether or not it decides anything itself.
    c.decidesAnything_ = decidingFlagCount() > 0;
    photoDefault();
}

void KZSearchCriteria::Parser::nameGroup()
{
    const auto p = group(u"isName"_s, u"nameStruct"_s);
    if (!p)
        return;
    c.noExtensionCompare_ = boolValue(*p, u"extensionIsExcluded"_s);
    c.isExcludeExpression_ = boolValue(*p, u"isExcludeExpression"_s);
    if (c.isExcludeExpression_) {
        const QString separators = stringValue(*p, u"separators"_s);
        if (!separators.isEmpty())
            c.separators_ = characterSet(separators);
        // Without "differences" the set stays empty rather than absent: the
        // name preparation looks characters up in it unconditionally.
        c.differences_ = characterSet(stringValue(*p, u"differences"_s));
    }
    if (!isFilter(*p, &KZSearchCriteria::isSameName_, &KZSearchCriteria::isUniqueName_))
        return;
    const QVariant text = p->value(KZCriteriaKey::string);
    if (text.typeId() == QMetaType::QString)
        c.name_ = KZFilesUtilities::sharedControl().normalizeString(text.toString());
    pick(integerValue(*p, KZCriteriaKey::whichItem),
         {&KZSearchCriteria::isNameContains_, &KZSearchCriteria::isNameStart_, &KZSearchCriteria::isNameEnd_,
          &KZSearchCriteria::isNameIs_, &KZSearchCriteria::nameIsNot_, &KZSearchCriteria::nameDoesntContains_});
}

// `flags`: same, unique, then the eight operators in "whichItem" order.
void KZSearchCriteria::Parser::dateGroup(const QString& switchKey, const QString& structKey,
                                         std::initializer_list<Flag> flags, double& secs, double& betweenSecs)
{
    const auto p = group(switchKey, structKey);
    if (!p)
        return;
    const Flag* f = flags.begin();
    if (!isFilter(*p, f[0], f[1]))
        return;
    secs = dateSeconds(stringValue(*p, KZCriteriaKey::date));
    const qint64 which = integerValue(*p, KZCriteriaKey::whichItem);
    pick(which, {f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9]});
    if (which == 7 || which == 8)
        betweenSecs = dateSeconds(stringValue(*p, KZCriteriaKey::betweenDate));
}

void KZSearchCriteria::Parser::extensionGroup()
{
    const auto p = group(u"isExtension"_s, KZCriteriaKey::extensionStruct);
    if (!p)
        return;
    c.excludeFolder_ = true;
    if (!isFilter(*p, &KZSearchCriteria::isSameExtension_, &KZSearchCriteria::isUniqueExtension_))
        return;
    const QVariant text = p->value(KZCriteriaKey::string);
    if (text.typeId() == QMetaType::QString) {
        c.defineExtensionsWithString(text.toString());
    } else {
        QStringList extensions;
        for (const QVariant& entry : listValue(*p, KZCriteriaKey::array)) {
            if (entry.typeId() == QMetaType::QString)
                extensions.append(entry.toString());
        }
        c.extensions_ = extensions;
    }
    pick(integerValue(*p, KZCriteriaKey::whichItem), {&KZSearchCriteria::isExtensionIs_, &KZSearchCriteria::isExtensionNot_});
}

void KZSearchCriteria::Parser::creatorGroup()
{
    const auto p = group(u"isCreator"_s, u"creatorStruct"_s);
    if (!p)
        return;
    c.excludeFolder_ = true;
    if (!isFilter(*p, &KZSearchCriteria::isSameCreator_, &KZSearchCriteria::isUniqueCreator_))
        return;
    c.creator_ = quotedTypeCode(stringValue(*p, KZCriteriaKey::string));
    pick(integerValue(*p, KZCriteriaKey::whichItem), {&KZSearchCriteria::isCreatorIs_, &KZSearchCriteria::isCreatorNot_});
}

void KZSearchCriteria::Parser::sizeGroup()
{
    const auto p = group(u"isSize"_s, u"sizeStruct"_s);
    if (!p)
        return;
    c.excludeFolder_ = true;
    // The same size is what every content comparison starts from, so it
    // leaves the search a content-only one.
    if (isFilter(*p, &KZSearchCriteria::isSameSize_, &KZSearchCriteria::isUniqueSize_, false)) {
        c.isTotalSize_ = true;
        c.sizeValue_ = unsigned64Value(*p, u"totalSize"_s);
        const qint64 which = integerValue(*p, u"whichTotalItem"_s);
        pick(which, {&KZSearchCriteria::isSizeIs_, &KZSearchCriteria::isSizeLess_, &KZSearchCriteria::isSizeGreater_,
                     &KZSearchCriteria::isSizeBetween_, &KZSearchCriteria::isSizeNotBetween_});
        if (which == 4 || which == 5)
            c.sizeBetweenValue_ = unsigned64Value(*p, u"totalBSize"_s);
        return;
    }
    c.isLimitSize_ = boolValue(*p, u"isLimitSize"_s);
    if (!c.isLimitSize_)
        return;
    c.limitSizeValue_ = unsigned64Value(*p, u"limitSize"_s);
    const qint64 which = integerValue(*p, u"whichLimitItem"_s);
    pick(which, {nullptr, &KZSearchCriteria::isLimitSizeLessOrEqual_, &KZSearchCriteria::isLimitSizeGreaterOrEqual_,
                 &KZSearchCriteria::isLimitSizeBetween_});
    if (which == 4)
        c.limitSizeBetweenValue_ = unsigned64Value(*p, u"limitBSize"_s);
}

void KZSearchCriteria::Parser::contentGroup()
{
    const auto p = group(u"isContent"_s, u"contentStruct"_s);
    if (!p)
        return;
    c.excludeFolder_ = true;
    c.isDataContent_ = boolValue(*p, u"isData"_s);
    c.isCompareContent_ = c.isDataContent_;
    c.isSkipData_ = boolValue(*p, u"skipData"_s);
    c.skipDataValue_ = unsigned64Value(*p, u"skipDataAmount"_s);
    c.isSkipResource_ = boolValue(*p, u"skipRes"_s);
    c.skipResourceValue_ = unsigned64Value(*p, u"skipResAmount"_s);
    c.treatPackAsFolder_ = boolValue(*p, u"treatPack"_s);
}

int KZSearchCriteria::Parser::decidingFlagCount() const
{
    static constexpr Flag qualifiers[] = {
        &KZSearchCriteria::noExtensionCompare_, &KZSearchCriteria::isExcludeExpression_,
        &KZSearchCriteria::isTotalSize_, &KZSearchCriteria::isLimitSize_, &KZSearchCriteria::isResourceContent_,
        &KZSearchCriteria::isSkipResource_, &KZSearchCriteria::treatPackAsFolder_, &KZSearchCriteria::isVisible_,
        &KZSearchCriteria::isInvisible_, &KZSearchCriteria::isExcludeEFCustIcon_,
        &KZSearchCriteria::isNestedEmptied_, &KZSearchCriteria::isKindAlias_,
        &KZSearchCriteria::isKindApplication_, &KZSearchCriteria::isKindFolder_, &KZSearchCriteria::isKindFont_,
        &KZSearchCriteria::isKindDocument_, &KZSearchCriteria::isKindSound_, &KZSearchCriteria::isBothApp_,
        &KZSearchCriteria::isLatitudeLocation_, &KZSearchCriteria::isLongitudeLocation_,
        &KZSearchCriteria::isPixelsWidthSize_, &KZSearchCriteria::isPixelsHeightSize_, &KZSearchCriteria::isMP3_,
        &KZSearchCriteria::isAAC_, &KZSearchCriteria::isPlaylist_, &KZSearchCriteria::excludeiTunesItems_,
        &KZSearchCriteria::excludePhotosItems_, &KZSearchCriteria::excludeFolder_, &KZSearchCriteria::isSongTags_,
        &KZSearchCriteria::isPhotoTag_, &KZSearchCriteria::isOnlyContent_, &KZSearchCriteria::isOnlyDead_,
        &KZSearchCriteria::isDuration_,
    };
    int count = 0;
#define KZ_CRITERIA_COUNT_FLAG(getter, Setter) count += c.getter##_ ? 1 : 0;
    KZ_CRITERIA_FLAGS(KZ_CRITERIA_COUNT_FLAG)
#undef KZ_CRITERIA_COUNT_FLAG
    for (const Flag flag : qualifiers)
        count -= c.*flag ? 1 : 0;
    return count;
}

void KZSearchCriteria::Parser::emptyFileGroup()
{
    if (group(u"isEmptyFile"_s, QString())) {
        c.isEmptyFile_ = true;
        c.excludeFolder_ = true;
    }
}

void KZSearchCriteria::Parser::customIconGroup()
{
    if (const auto p = group(u"isHasCustomIcon"_s, u"customIconStruct"_s)) {
        c.isOnlyContent_ = false;
        pick(integerValue(*p, KZCriteriaKey::whichItem),
             {&KZSearchCriteria::isHasCustomIcon_, &KZSearchCriteria::isHasCustomIconNot_});
    }
}

void KZSearchCriteria::Parser::lockedGroup()
{
    if (const auto p = group(u"isLocked"_s, u"lockedStruct"_s)) {
        c.isOnlyContent_ = false;
        pick(integerValue(*p, KZCriteriaKey::whichItem), {&KZSearchCriteria::isLockedIs_, &KZSearchCriteria::isLockedNot_});
    }
}

void KZSearchCriteria::Parser::visibilityGroup()
{
    if (const auto p = group(u"isVisibility"_s, u"visibilityStruct"_s)) {
        const qint64 which = integerValue(*p, KZCriteriaKey::whichItem);
        c.isInvisible_ = which == 1 || which == 2;
        c.isVisible_ = which == 2;
    } else {
        c.isVisible_ = true;
    }
}

void KZSearchCriteria::Parser::folderGroup()
{
    const auto p = group(KZCriteriaKey::isFolder, KZCriteriaKey::folderStruct);
    if (!p)
        return;
    c.isExcludeEFCustIcon_ = boolValue(*p, KZCriteriaKey::excludeCustomIcon);
    c.isNestedEmptied_ = boolValue(*p, KZCriteriaKey::neastedEmptied);
    c.isFolderCompareContent_ = boolValue(*p, u"compareContent"_s);
    const qint64 which = integerValue(*p, KZCriteriaKey::whichItem);
    pick(which, {&KZSearchCriteria::isFolderEmpty_, &KZSearchCriteria::isFolderNotEmpty_});
    if (which == 2)
        c.excludeFolder_ = false;
}

void KZSearchCriteria::Parser::kindGroup()
{
    const auto p = group(u"isKind"_s, u"kindStruct"_s);
    if (!p)
        return;
    pick(integerValue(*p, KZCriteriaKey::whichItem), {&KZSearchCriteria::isKindIs_, &KZSearchCriteria::isKindNot_});
    const qint64 kind = integerValue(*p, u"whichItem2"_s);
    pick(kind, {&KZSearchCriteria::isKindAlias_, &KZSearchCriteria::isKindApplication_,
                &KZSearchCriteria::isKindFolder_, &KZSearchCriteria::isKindFont_,
                &KZSearchCriteria::isKindDocument_, &KZSearchCriteria::isKindSound_});
    if (kind == 2)
        c.isBothApp_ = true;
    if (kind != 3)
        c.excludeFolder_ = true;
}

void KZSearchCriteria::Parser::labelGroup()
{
    const auto p = group(u"isLabel"_s, u"labelStruct"_s);
    if (!p)
        return;
    c.isOnlyContent_ = false;
    c.whichLabel_ = integerValue(*p, u"whichItem2"_s);
    pick(integerValue(*p, KZCriteriaKey::whichItem), {&KZSearchCriteria::isLabelIs_, &KZSearchCriteria::isLabelNot_});
}

void KZSearchCriteria::Parser::permissionsGroup()
{
    const auto p = group(u"isPermissions"_s, u"permissionsStruct"_s);
    if (!p)
        return;
    c.isOnlyContent_ = false;
    c.userID_ = quint32(::getuid());
    pick(integerValue(*p, KZCriteriaKey::whichItem),
         {&KZSearchCriteria::isPReadWrite_, &KZSearchCriteria::isPRead_, &KZSearchCriteria::isPWrite_,
          &KZSearchCriteria::isPNoAccess_, &KZSearchCriteria::isPOwnership_, &KZSearchCriteria::isPNotOwnership_});
}

// `flags`: same, unique, then the six text operators in "whichItem" order.
void KZSearchCriteria::Parser::songTextGroup(const QString& switchKey, const QString& structKey,
                                             std::initializer_list<Flag> flags, QString& value)
{
    const auto p = group(switchKey, structKey);
    if (!p)
        return;
    c.isSongTags_ = true;
    c.excludeFolder_ = true;
    const Flag* f = flags.begin();
    if (!isFilter(*p, f[0], f[1]))
        return;
    value = stringValue(*p, KZCriteriaKey::string);
    pick(integerValue(*p, KZCriteriaKey::whichItem), {f[2], f[3], f[4], f[5], f[6], f[7]});
}

void KZSearchCriteria::Parser::yearGroup()
{
    const auto p = group(u"isYear"_s, u"yearStruct"_s);
    if (!p)
        return;
    c.isSongTags_ = true;
    c.excludeFolder_ = true;
    if (!isFilter(*p, &KZSearchCriteria::isSameYear_, &KZSearchCriteria::isUniqueYear_))
        return;
    c.year_ = static_cast<qint16>(integerValue(*p, u"year"_s));
    pick(integerValue(*p, KZCriteriaKey::whichItem),
         {&KZSearchCriteria::isYearIs_, &KZSearchCriteria::isYearLess_, &KZSearchCriteria::isYearGreater_});
}

void KZSearchCriteria::Parser::durationGroup()
{
    const auto p = group(u"isDuration"_s, u"durationStruct"_s);
    if (!p)
        return;
    c.isSongTags_ = true;
    c.excludeFolder_ = true;
    c.durationTolerance_ = truncatedUnsigned32(*p, u"tolerance"_s);
    if (!isFilter(*p, &KZSearchCriteria::isSameDuration_, &KZSearchCriteria::isUniqueDuration_))
        return;
    c.durationTime_ = truncatedUnsigned32(*p, u"duration"_s);
    pick(integerValue(*p, KZCriteriaKey::whichItem), {&KZSearchCriteria::isDurationIs_, &KZSearchCriteria::isDurationLess_,
                                          &KZSearchCriteria::isDurationGreater_});
}

void KZSearchCriteria::Parser::songOptions()
{
    if (!d.contains(KZCriteriaKey::songOptionsStruct))
        return;
    const QVariantMap p = mapValue(d, KZCriteriaKey::songOptionsStruct);
    if (c.isSongTags_) {
        c.isMP3_ = boolValue(p, KZCriteriaKey::isMp3);
        c.isAAC_ = boolValue(p, KZCriteriaKey::isAAC);
    }
    c.setIsDeads(boolValue(p, KZCriteriaKey::isReportDeads));
    c.isPlaylist_ = boolValue(p, KZCriteriaKey::isPlaylist);
    if (c.isPlaylist_)
        c.playlistName_ = stringValue(p, KZCriteriaKey::playlistName);
}

void KZSearchCriteria::Parser::specialGroup()
{
    const auto p = group(u"isSpecial"_s, u"specialStruct"_s);
    if (!p)
        return;
    // Aliases never take part in a search for special items.
    c.isKindAlias_ = true;
    c.isKindNot_ = true;
    if (integerValue(*p, KZCriteriaKey::whichItem) == 0) {
        c.isCompressedFile_ = true;
        c.excludeFolder_ = true;
    }
}

void KZSearchCriteria::Parser::dateTakenGroup()
{
    const auto p = group(u"isDateTaken"_s, u"dateTakenStruct"_s);
    if (!p)
        return;
    c.isPhotoTag_ = true;
    c.excludeFolder_ = true;
    if (!isFilter(*p, &KZSearchCriteria::isSameDateTaken_, &KZSearchCriteria::isUniqueDateTaken_))
        return;
    c.takenSecs_ = photoDateSeconds(stringValue(*p, KZCriteriaKey::date));
    const qint64 which = integerValue(*p, KZCriteriaKey::whichItem);
    pick(which, {&KZSearchCriteria::isDateTakenIs_, &KZSearchCriteria::isDateTakenBefore_,
                 &KZSearchCriteria::isDateTakenAfter_, &KZSearchCriteria::isDateTakenNot_,
                 &KZSearchCriteria::isDateTakenToday_, &KZSearchCriteria::isDateTakenYesterday_,
                 &KZSearchCriteria::isDateTakenBetween_, &KZSearchCriteria::isDateTakenNotBetween_});
    if (which == 7 || which == 8)
        c.takenBetweenSecs_ = photoDateSeconds(stringValue(*p, KZCriteriaKey::betweenDate));
}

void KZSearchCriteria::Parser::locationGroup()
{
    const auto p = group(u"isLocationTaken"_s, u"locationTakenStruct"_s);
    if (!p)
        return;
    c.isPhotoTag_ = true;
    c.excludeFolder_ = true;
    if (boolValue(*p, u"isTolerance"_s))
        c.locationTolerance_ =
            degrees(*p, u"toleranceDegressValue"_s, u"toleranceMinutesValue"_s, u"toleranceSecondValue"_s);
    if (!isFilter(*p, &KZSearchCriteria::isSameLocationTaken_, &KZSearchCriteria::isUniqueLocationTaken_))
        return;

    struct Axis {
        QString prefix;
        Flag on, is, less, greater, between, notBetween;
        double &value, &betweenValue;
        QString& ref;
    };
    const Axis axes[] = {
        {u"latitude"_s, &KZSearchCriteria::isLatitudeLocation_, &KZSearchCriteria::isLatitudeIs_,
         &KZSearchCriteria::isLatitudeLess_, &KZSearchCriteria::isLatitudeGreater_,
         &KZSearchCriteria::isLatitudeBetween_, &KZSearchCriteria::isLatitudeNotBetween_, c.latitude_,
         c.latitudeBetween_, c.latitudeRef_},
        {u"longitude"_s, &KZSearchCriteria::isLongitudeLocation_, &KZSearchCriteria::isLongitudeIs_,
         &KZSearchCriteria::isLongitudeLess_, &KZSearchCriteria::isLongitudeGreater_,
         &KZSearchCriteria::isLongitudeBetween_, &KZSearchCriteria::isLongitudeNotBetween_, c.longitude_,
         c.longitudeBetween_, c.longitudeRef_},
    };
    for (const Axis& axis : axes) {
        // "isLatitude", "latitudeDegressValue", ...
        const QString capitalised = axis.prefix.at(0).toUpper() + axis.prefix.mid(1);
        if (!boolValue(*p, u"is"_s + capitalised))
            continue;
        c.*axis.on = true;
        axis.value = degrees(*p, axis.prefix + u"DegressValue"_s, axis.prefix + u"MinutesValue"_s,
                             axis.prefix + u"SecondValue"_s);
        axis.ref = stringValue(*p, axis.prefix + u"Ref"_s);
        const qint64 which = integerValue(*p, axis.prefix + u"WhichItem"_s);
        pick(which, {axis.is, axis.less, axis.greater, nullptr, nullptr, nullptr, axis.between, axis.notBetween});
        if (which == 7 || which == 8)
            axis.betweenValue = degrees(*p, axis.prefix + u"BetDegressValue"_s, axis.prefix + u"BetMinutesValue"_s,
                                        axis.prefix + u"BetSecondValue"_s);
    }
}

void KZSearchCriteria::Parser::pixelsGroup()
{
    const auto p = group(u"isPixelsSize"_s, u"pixelsSizeStruct"_s);
    if (!p)
        return;
    c.isPhotoTag_ = true;
    c.excludeFolder_ = true;
    if (isFilter(*p, &KZSearchCriteria::isSamePixelsSize_, &KZSearchCriteria::isUniquePixelsSize_)) {
        c.isPixelsWidthSize_ = boolValue(*p, u"isWidth"_s);
        c.isPixelsHeightSize_ = boolValue(*p, u"isHeight"_s);
        const qint64 which = integerValue(*p, KZCriteriaKey::whichItem);
        pick(which, {&KZSearchCriteria::isPixelsIs_, &KZSearchCriteria::isPixelsLess_,
                     &KZSearchCriteria::isPixelsGreater_, nullptr, nullptr, nullptr,
                     &KZSearchCriteria::isPixelsBetween_, &KZSearchCriteria::isPixelsNotBetween_});
        const bool between = which == 7 || which == 8;
        if (c.isPixelsWidthSize_) {
            c.pixelsWidth_ = unsigned64Value(*p, u"width"_s);
            if (between)
                c.pixelsBetWidth_ = unsigned64Value(*p, u"widthBetween"_s);
        }
        if (c.isPixelsHeightSize_) {
            c.pixelsHeight_ = unsigned64Value(*p, u"height"_s);
            if (between)
                c.pixelsBetHeight_ = unsigned64Value(*p, u"heightBetween"_s);
        }
        return;
    }
    c.isSameWidthPixelsSize_ = boolValue(*p, u"isSameWidth"_s);
    c.isSameHeightPixelsSize_ = boolValue(*p, u"isSameHeight"_s);
}

void KZSearchCriteria::Parser::cameraGroup()
{
    const auto p = group(u"isCameraModel"_s, u"cameraModelStruct"_s);
    if (!p)
        return;
    c.isPhotoTag_ = true;
    c.excludeFolder_ = true;
    c.cameraTag_ = integerValue(*p, u"cameraWhichItem"_s);
    if (!isFilter(*p, &KZSearchCriteria::isSameCameraModel_, &KZSearchCriteria::isUniqueCameraModel_))
        return;
    const QVariant text = p->value(KZCriteriaKey::string);
    if (text.typeId() == QMetaType::QString) {
        QStringList models;
        for (const QString& model : text.toString().split(u','))
            models.append(model.trimmed());
        c.cameraMakeModel_ = models;
    }
    pick(integerValue(*p, KZCriteriaKey::whichItem),
         {&KZSearchCriteria::isCameraModelContains_, &KZSearchCriteria::isCameraModelStart_,
          &KZSearchCriteria::isCameraModelEnd_, &KZSearchCriteria::isCameraModelIs_,
          &KZSearchCriteria::isCameraModelIsNot_, &KZSearchCriteria::isCameraModelDoesntContain_});
}

void KZSearchCriteria::Parser::photoOptions()
{
    if (!d.contains(KZCriteriaKey::photoOptionsStruct))
        return;
    const QVariantMap p = mapValue(d, KZCriteriaKey::photoOptionsStruct);
    c.setIsDeads(boolValue(p, KZCriteriaKey::isReportDeads));
    // The album and the playlist share one value; read later, the album wins.
    c.isPlaylist_ = boolValue(p, KZCriteriaKey::isCreateAlbum);
    if (c.isPlaylist_)
        c.playlistName_ = stringValue(p, KZCriteriaKey::albumName);
}

void KZSearchCriteria::Parser::excludedApps()
{
    for (const QVariant& entry : listValue(d, u"ExcludedApps"_s)) {
        if (entry.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap app = entry.toMap();
        switch (integerValue(app, u"tag"_s)) {
        case 1:
            c.excludeiTunesItems_ = true;
            c.excludeiTunesItemsDict_ = app;
            break;
        case 5:
            c.excludePhotosItems_ = true;
            c.excludePhotosItemsDict_ = app;
            break;
        default:
            break;
        }
    }
}

// A photo criterion without its own extension or type filter looks at
// images only.
void KZSearchCriteria::Parser::photoDefault()
{
    if (!c.isPhotoTag_ || c.isExtensionNoSameUnique() || c.isTypeNoSameUnique())
        return;
    const KZFilesUtilities& files = KZFilesUtilities::sharedControl();
    c.isExtensionIs_ = true;
    c.isTypeIs_ = true;
    c.isKindAlias_ = true;
    c.isKindNot_ = true;
    c.types_ = files.typesFormattedToCheckWithSelector(&KZFilesUtilities::imagesTypes);
    c.extensions_ = files.imagesExtensions().split(u',');
}

// ---- KZSearchCriteria --------------------------------------------------------------

KZSearchCriteria::KZSearchCriteria()
{
    resetToStartState();
}

KZSearchCriteria::KZSearchCriteria(const QVariantMap& dictionary)
{
    initializeCriteriaWithDict(dictionary);
}

void KZSearchCriteria::resetToStartState()
{
#define KZ_CRITERIA_RESET_FLAG(getter, Setter) getter##_ = false;
    KZ_CRITERIA_FLAGS(KZ_CRITERIA_RESET_FLAG)
#undef KZ_CRITERIA_RESET_FLAG
#define KZ_CRITERIA_RESET_VALUE(Type, getter, Setter) getter##_ = Type{};
    KZ_CRITERIA_VALUES(KZ_CRITERIA_RESET_VALUE)
#undef KZ_CRITERIA_RESET_VALUE
    separators_.reset();
    differences_.clear();
    types_.clear();
    decidesAnything_ = false;
    groupsWithoutSettings_.clear();
    isDeads_ = false;
    isImageContent_ = false;
    isOnlyDead_ = true;
    isOnlyContent_ = true;
}

void KZSearchCriteria::initializeCriteriaWithDict(const QVariantMap& dictionary)
{
    resetToStartState();
    Parser(*this, dictionary).run();
}

void KZSearchCriteria::defineExtensionsWithString(const QString& string)
{
    // The list is written between two enclosing characters. A text too short
    // to hold them lists nothing.
    if (string.size() < 2) {
        extensions_.clear();
        return;
    }
    extensions_ = string.mid(1, string.size() - 2).split(u',');
}

bool KZSearchCriteria::isSameSearch() const
{
    return isSameName_ || isSameSize_ || isSameModified_ || isSameCreated_ || isSameType_ || isSameCreator_
        || isSameExtension_ || isSongNameSame_ || isSameArtist_ || isSameAlbum_ || isSameGenre_ || isSameYear_
        || isSameDuration_ || isSameDateTaken_ || isSameLocationTaken_ || isSamePixelsSize_ || isSameCameraModel_
        || isFolderCompareContent_;
}

bool KZSearchCriteria::isUniqueSearch() const
{
    return isUniqueName_ || isUniqueSize_ || isUniqueModified_ || isUniqueCreated_ || isUniqueType_
        || isUniqueCreator_ || isUniqueExtension_ || isSongNameUnique_ || isUniqueArtist_ || isUniqueAlbum_
        || isUniqueGenre_ || isUniqueYear_ || isUniqueDuration_ || isUniqueDateTaken_ || isUniqueLocationTaken_
        || isUniquePixelsSize_ || isUniqueCameraModel_;
}

bool KZSearchCriteria::isOnlySameDuration() const
{
    const bool otherSame = isSameName_ || isSameSize_ || isSameModified_ || isSameCreated_ || isSameType_
        || isSameCreator_ || isSameExtension_ || isSongNameSame_ || isSameArtist_ || isSameAlbum_ || isSameGenre_
        || isSameYear_;
    if (isSameDuration_ && !otherSame)
        return true;
    const bool otherUnique = isUniqueName_ || isUniqueSize_ || isUniqueModified_ || isUniqueCreated_
        || isUniqueType_ || isUniqueCreator_ || isUniqueExtension_ || isSongNameUnique_ || isUniqueArtist_
        || isUniqueAlbum_ || isUniqueGenre_ || isUniqueYear_;
    if (otherUnique)
        return false;
    return isUniqueDuration_;
}

bool KZSearchCriteria::isName() const
{
    return isSameName_ || isUniqueName_ || isNameContains_ || isNameStart_ || isNameEnd_ || isNameIs_ || nameIsNot_
        || nameDoesntContains_ || noExtensionCompare_ || isExcludeExpression_;
}

bool KZSearchCriteria::isSize() const
{
    return isSameSize_ || isUniqueSize_ || isTotalSize_ || isSkipData_ || isSkipResource_;
}

bool KZSearchCriteria::isType() const
{
    return isSameType_ || isUniqueType_ || isTypeIs_ || isTypeNot_;
}

bool KZSearchCriteria::isKind() const
{
    return isKindIs_ || isKindNot_;
}
