#include "settings/KZFileTypeLabel.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "settings/KZDefaultsKeys.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZTags.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// Components are kept as single-precision values widened to double, and
// compared the same way, so that a value just loaded compares equal the next
// time and does not count as a change again.
double component(const QVariantMap& colours, const QString& key)
{
    return static_cast<double>(static_cast<float>(colours.value(key).toDouble()));
}

// The tag of a label dictionary; a tag written as text is no tag, as a
// number never equals a string in the label table.
std::optional<quint64> labelTag(const QVariantMap& label)
{
    const QVariant value = label.value(KZLabelKey::file_type_tag);
    if (!value.isValid() || value.typeId() == QMetaType::QString)
        return std::nullopt;
    bool ok = false;
    const qulonglong tag = value.toULongLong(&ok);
    if (!ok)
        return std::nullopt;
    return tag;
}

QVariantMap fixedLook()
{
    const double red = 0.828, green = 0.851, blue = 0.883, alpha = 0.8;
    return {
        {KZLabelKey::red_label_on_color, red},
        {KZLabelKey::green_label_on_color, green},
        {KZLabelKey::blue_label_on_color, blue},
        {KZLabelKey::alpha_label_on_color, alpha},
        {KZLabelKey::red_label_off_color, red},
        {KZLabelKey::green_label_off_color, green},
        {KZLabelKey::blue_label_off_color, blue},
        {KZLabelKey::alpha_label_off_color, alpha},
    };
}

float unit(double value)
{
    if (std::isnan(value))
        return 0.0f;
    return static_cast<float>(std::clamp(value, 0.0, 1.0));
}

} // namespace

KZFileTypeLabel::KZFileTypeLabel(quint64 tag)
    : tag_(tag)
{
    if (isSpecialTag(tag_))
        setupForTabWithTag(tag_);
    else
        updateLabels();

    auto& center = platform::NotificationCenter::defaultCenter();
    removeObserversRegistration_ = center.addObserver(
        KZNotification::removeObservers, platform::bundleIdentifier(),
        [this](const platform::Notification&) { removeObservers(); });
    addObserversRegistration_ = center.addObserver(
        KZNotification::addObservers, platform::bundleIdentifier(),
        [this](const platform::Notification&) { addObservers(); });

    addObservers();
}

std::shared_ptr<KZFileTypeLabel> KZFileTypeLabel::create(quint64 tag)
{
    return std::make_shared<KZFileTypeLabel>(tag);
}

KZFileTypeLabel::~KZFileTypeLabel()
{
    // The notification registrations go first: an "addObservers" arriving
    // from another thread must not observe the defaults again behind us.
    removeObserversRegistration_.cancel();
    addObserversRegistration_.cancel();
    removeObservers();
}

bool KZFileTypeLabel::isSpecialTag(quint64 tag)
{
    return tag >= KZTag::specialTabsStart;
}

QString KZFileTypeLabel::noDupesTabNameWithTag(quint64 tag)
{
    if (tag == KZTag::missingTracks)
        return platform::localizedString(QStringLiteral("deads_tab_name"));
    if (tag == KZTag::emptyFolders)
        return platform::localizedString(QStringLiteral("empty_folders"));
    return QString();
}

QString KZFileTypeLabel::name() const
{
    QString stored;
    bool single = false;
    {
        std::lock_guard guard(lock_);
        stored = name_;
        single = showSingleName_;
    }
    if (!single)
        return stored;
    const QString format = platform::localizedString(QStringLiteral("single_tab_name"));
    if (!format.contains(QLatin1String("%1")))
        return format;
    return format.arg(QLocale().toLower(stored));
}

void KZFileTypeLabel::setName(const QString& name)
{
    std::lock_guard guard(lock_);
    name_ = name;
}

QString KZFileTypeLabel::firstChar() const
{
    std::lock_guard guard(lock_);
    if (name_.isEmpty())
        return QString();
    // A character outside the basic plane takes two code units; half of one
    // is no character at all.
    if (name_.at(0).isHighSurrogate() && name_.size() > 1 && name_.at(1).isLowSurrogate())
        return name_.left(2);
    return name_.left(1);
}

QString KZFileTypeLabel::removeBtnTitle() const
{
    if (tag_ == KZTag::allDuplicates)
        return platform::localizedString(QStringLiteral("all_dupes_btn_title"));
    std::lock_guard guard(lock_);
    return name_;
}

#define KZ_LOCKED_ACCESSORS(Type, getter, setter, member) \
    Type KZFileTypeLabel::getter() const                  \
    {                                                     \
        std::lock_guard guard(lock_);                     \
        return member;                                    \
    }                                                     \
    void KZFileTypeLabel::setter(Type value)              \
    {                                                     \
        std::lock_guard guard(lock_);                     \
        member = value;                                   \
    }

KZ_LOCKED_ACCESSORS(quint64, size, setSize, size_)
KZ_LOCKED_ACCESSORS(quint64, filesCount, setFilesCount, filesCount_)
KZ_LOCKED_ACCESSORS(double, redOnColor, setRedOnColor, look_.redOn)
KZ_LOCKED_ACCESSORS(double, greenOnColor, setGreenOnColor, look_.greenOn)
KZ_LOCKED_ACCESSORS(double, blueOnColor, setBlueOnColor, look_.blueOn)
KZ_LOCKED_ACCESSORS(double, onAlphaValue, setOnAlphaValue, look_.alphaOn)
KZ_LOCKED_ACCESSORS(double, redOffColor, setRedOffColor, look_.redOff)
KZ_LOCKED_ACCESSORS(double, greenOffColor, setGreenOffColor, look_.greenOff)
KZ_LOCKED_ACCESSORS(double, blueOffColor, setBlueOffColor, look_.blueOff)
KZ_LOCKED_ACCESSORS(double, offAlphaValue, setOffAlphaValue, look_.alphaOff)
KZ_LOCKED_ACCESSORS(qint64, reduceTransparence, setReduceTransparence, reduceTransparence_)
KZ_LOCKED_ACCESSORS(bool, canBeRemoved, setCanBeRemoved, canBeRemoved_)
KZ_LOCKED_ACCESSORS(bool, showSingleName, setShowSingleName, showSingleName_)

#undef KZ_LOCKED_ACCESSORS

QColor KZFileTypeLabel::onColor() const
{
    std::lock_guard guard(lock_);
    return QColor::fromRgbF(unit(look_.redOn), unit(look_.greenOn), unit(look_.blueOn),
                            unit(look_.alphaOn));
}

QColor KZFileTypeLabel::offColor() const
{
    std::lock_guard guard(lock_);
    return QColor::fromRgbF(unit(look_.redOff), unit(look_.greenOff), unit(look_.blueOff),
                            unit(look_.alphaOff));
}

bool KZFileTypeLabel::observersAreRegistered() const
{
    std::lock_guard guard(observersMutex_);
    return observersAreRegistered_;
}

void KZFileTypeLabel::addObservers()
{
    std::lock_guard guard(observersMutex_);
    if (observersAreRegistered_)
        return;
    auto& defaults = platform::UserDefaults::standard();
    labelsObservation_ = defaults.observe(KZDefaultsKey::file_type_labels, [this](const QVariant&) {
        observedValueChanged(Observed::FileTypeLabels);
    });
    reduceObservation_ = defaults.observe(KZDefaultsKey::reduce_transparence, [this](const QVariant&) {
        observedValueChanged(Observed::ReduceTransparence);
    });
    disableObservation_ = defaults.observe(KZDefaultsKey::disable_lables, [this](const QVariant&) {
        observedValueChanged(Observed::DisableLabels);
    });
    observersAreRegistered_ = true;
}

void KZFileTypeLabel::removeObservers()
{
    std::lock_guard guard(observersMutex_);
    if (!observersAreRegistered_)
        return;
    labelsObservation_.cancel();
    reduceObservation_.cancel();
    disableObservation_.cancel();
    observersAreRegistered_ = false;
}

void KZFileTypeLabel::observedValueChanged(Observed which)
{
    if (which == Observed::FileTypeLabels) {
        if (updateLabels()) {
            updateTabs();
            updateOtherSourceListInfo();
        }
        return;
    }
    const bool changed = isSpecialTag(tag_) ? setupForTabWithTag(tag_) : updateLabels();
    if (changed)
        updateTabs();
}

void KZFileTypeLabel::loadColours(const QVariantMap& colours, bool reduce)
{
    std::lock_guard guard(lock_);
    reduceTransparence_ = reduce ? 1 : 0;
    look_.redOn = component(colours, KZLabelKey::red_label_on_color);
    look_.greenOn = component(colours, KZLabelKey::green_label_on_color);
    look_.blueOn = component(colours, KZLabelKey::blue_label_on_color);
    look_.alphaOn = reduce ? 1.0 : component(colours, KZLabelKey::alpha_label_on_color);
    look_.redOff = component(colours, KZLabelKey::red_label_off_color);
    look_.greenOff = component(colours, KZLabelKey::green_label_off_color);
    look_.blueOff = component(colours, KZLabelKey::blue_label_off_color);
    look_.alphaOff = reduce ? 1.0 : component(colours, KZLabelKey::alpha_label_off_color);
}

bool KZFileTypeLabel::updateLabels()
{
    // Everything is read from the defaults before the lock is taken: the
    // defaults may call their observers under their own lock, so holding ours
    // while calling into them could deadlock against a tab view that reads
    // the defaults while it holds our lock.
    auto& defaults = platform::UserDefaults::standard();
    const bool disabled = defaults.boolForKey(KZDefaultsKey::disable_lables);
    const bool reduce = defaults.boolForKey(KZDefaultsKey::reduce_transparence);
    bool changed = false;

    QVariantMap colours;
    if (disabled) {
        colours = defaults.dictionaryForKey(KZDefaultsKey::disable_lable_colors);
        // While labels are disabled every update counts as a change.
        changed = true;
    }

    std::optional<QVariantMap> entry;
    const QVariantList labels = defaults.arrayForKey(KZDefaultsKey::file_type_labels);
    for (const QVariant& item : labels) {
        const QVariantMap label = item.toMap();
        if (labelTag(label) == tag_) {
            entry = label;
            break;
        }
    }

    std::lock_guard guard(lock_);
    if (entry) {
        if (!disabled)
            colours = *entry;
        const QString entryName = entry->value(KZLabelKey::label_name).toString();
        if (name_ != entryName) {
            name_ = entryName;
            changed = true;
        }
    }
    if (colours.isEmpty())
        return changed;

    // Only the selected colour and the transparency decide: the labels editor
    // always writes both colours of a label together.
    const qint64 reduceValue = reduce ? 1 : 0;
    if (look_.redOn != component(colours, KZLabelKey::red_label_on_color)
        || look_.greenOn != component(colours, KZLabelKey::green_label_on_color)
        || look_.blueOn != component(colours, KZLabelKey::blue_label_on_color)
        || reduceTransparence_ != reduceValue) {
        loadColours(colours, reduce);
        changed = true;
    }
    return changed;
}

bool KZFileTypeLabel::setupForTabWithTag(quint64 tag)
{
    auto& defaults = platform::UserDefaults::standard();
    const bool disabled = defaults.boolForKey(KZDefaultsKey::disable_lables);
    const bool reduce = defaults.boolForKey(KZDefaultsKey::reduce_transparence);
    const QString specialName = noDupesTabNameWithTag(tag);

    bool changed = false;
    QVariantMap colours;
    if (disabled) {
        colours = defaults.dictionaryForKey(KZDefaultsKey::disable_lable_colors);
        changed = true;
    } else {
        colours = fixedLook();
    }

    std::lock_guard guard(lock_);
    // The fixed name is not a change of its own: it never differs between loads.
    name_ = specialName;
    if (colours.isEmpty())
        return changed;
    const qint64 reduceValue = reduce ? 1 : 0;
    if (look_.redOn != component(colours, KZLabelKey::red_label_on_color)
        || reduceTransparence_ != reduceValue) {
        loadColours(colours, reduce);
        changed = true;
    }
    return changed;
}

void KZFileTypeLabel::updateTabs()
{
    platform::NotificationCenter::defaultCenter().post(KZNotification::updateTabsUserDefault,
                                                       static_cast<const void*>(this));
}

void KZFileTypeLabel::updateOtherSourceListInfo()
{
    platform::NotificationCenter::defaultCenter().post(
        KZNotification::updateOtherSourceListInfo,
        platform::NotificationObject::number(static_cast<qint64>(tag_)));
}
