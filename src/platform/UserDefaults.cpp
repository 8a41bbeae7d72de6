#include "platform/UserDefaults.h"

#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/SharedInstance.h"

#include <QDateTime>
#include <QDir>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <limits>
#include <map>
#include <system_error>
#include <thread>
#include <utility>

namespace fs = std::filesystem;

namespace platform {

// One observer. Its own lock lets cancel() wait for deliveries running on
// other threads without holding any lock of the defaults while they run.
struct UserDefaults::Observer {
    explicit Observer(std::function<void(const QVariant&)> fn) : callback(std::move(fn)) {}

    void deliver(const QVariant& value, quint64 sequence)
    {
        {
            std::lock_guard lock(mutex);
            // A later change already delivered (racing setters): this value is
            // outdated, and calling with it would leave the observer behind.
            if (cancelled || sequence <= lastSequence)
                return;
            lastSequence = sequence;
            running.push_back(std::this_thread::get_id());
        }
        callback(value);
        {
            std::lock_guard lock(mutex);
            running.erase(std::find(running.begin(), running.end(), std::this_thread::get_id()));
        }
        idle.notify_all();
    }

    void cancel()
    {
        std::unique_lock lock(mutex);
        cancelled = true;
        // An observer may cancel itself from inside its callback; waiting for
        // that call to end would wait forever.
        const auto self = std::this_thread::get_id();
        idle.wait(lock, [&] {
            return std::all_of(running.begin(), running.end(), [&](auto id) { return id == self; });
        });
    }

    const std::function<void(const QVariant&)> callback;
    std::mutex mutex;
    std::condition_variable idle;
    bool cancelled = false;
    quint64 lastSequence = 0;
    std::vector<std::thread::id> running;
};

// Shared with the Subscriptions, so that one that outlives its defaults
// object can still be cancelled safely.
struct UserDefaults::ObserverRegistry {
    std::mutex mutex;
    std::multimap<QString, std::shared_ptr<Observer>> byKey; // equal keys keep insertion order
};

namespace {

// Strict equality: a key that changes from 1 to true has changed.
bool sameValue(const QVariant& a, const QVariant& b)
{
    if (a.isValid() != b.isValid())
        return false;
    return !a.isValid() || (a.metaType() == b.metaType() && a == b);
}

bool isNumber(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

// Numeric text as Foundation's number parsing reads it: surrounding blanks
// ignored, an integer or a decimal number.
std::optional<double> numberFromString(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

qint64 clampToInt64(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 9223372036854775807.0)
        return std::numeric_limits<qint64>::max();
    if (value <= -9223372036854775808.0)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(value);
}

fs::path environmentPath(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? fs::path(value) : fs::path();
}

// Moves a damaged file out of the way under a name no other file has, so
// that nothing the user had is lost and the next save starts clean.
fs::path moveAside(const fs::path& file)
{
    const std::string stamp =
        Clock::shared().dateTime().toString(QStringLiteral("yyyyMMddHHmmss")).toStdString();
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path aside = file;
        aside += ".damaged-" + stamp + (attempt ? "-" + std::to_string(attempt) : std::string());
        int err = 0;
        if (moveNoReplace(file, aside, nullptr, &err))
            return aside;
        if (err != EEXIST)
            return {};
    }
    return {};
}

} // namespace

namespace {

SharedInstance<UserDefaults>& standardInstance()
{
    static SharedInstance<UserDefaults> instance(
        [] { return std::make_unique<UserDefaults>(UserDefaults::defaultFilePath()); });
    return instance;
}

} // namespace

UserDefaults& UserDefaults::standard()
{
    return standardInstance().get();
}

void UserDefaults::setStandard(std::unique_ptr<UserDefaults> instance)
{
    standardInstance().replace(std::move(instance));
}

fs::path UserDefaults::defaultFilePath()
{
    // The XDG base directory rules ignore a relative value.
    fs::path config = environmentPath("XDG_CONFIG_HOME");
    if (config.empty() || config.is_relative()) {
        fs::path home = environmentPath("HOME");
        if (home.empty())
            home = platform::pathFromText(QDir::homePath());
        config = home / ".config";
    }
    return config / "maravex" / "defaults.plist";
}

UserDefaults::UserDefaults(fs::path file)
    : file_(std::move(file))
    , observers_(std::make_shared<ObserverRegistry>())
{
    user_ = loadFile();
}

UserDefaults::~UserDefaults() = default;

QVariantMap UserDefaults::loadFile()
{
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(file_, ec)))
        return {};
    QString error;
    if (auto values = PropertyList::readDictionary(file_, &error))
        return *values;

    const fs::path aside = moveAside(file_);
    {
        std::lock_guard lock(mutex_);
        reset_ = Reset{error, aside};
    }
    if (aside.empty()) {
        logLine(QStringLiteral("The preferences could not be read (%1), nor moved aside; "
                               "the program starts from its default settings.")
                    .arg(error));
    } else {
        logLine(QStringLiteral("The preferences could not be read (%1). The file was moved to “%2”; "
                               "the program starts from its default settings.")
                    .arg(error, platform::pathText(aside)));
    }
    return {};
}

QVariant UserDefaults::effectiveValue(const QString& key) const
{
    auto it = user_.constFind(key);
    if (it != user_.cend())
        return *it;
    return registered_.value(key);
}

void UserDefaults::noteChange(const QString& key, const QVariant& before, std::vector<Change>* changes)
{
    QVariant after = effectiveValue(key);
    if (!sameValue(before, after))
        changes->push_back({key, std::move(after), ++sequence_});
}

void UserDefaults::registerDefaults(const QVariantMap& values)
{
    std::vector<Change> changes;
    {
        std::lock_guard lock(mutex_);
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            QString error;
            auto value = PropertyList::normalized(it.value(), &error);
            if (!value) {
                // Not fatal: registration is never written, so the value can
                // still be read in its own type.
                logLine(QStringLiteral("Default “%1” registered with a value that cannot be saved: %2")
                            .arg(it.key(), error));
                value = it.value();
            }
            const QVariant before = effectiveValue(it.key());
            registered_.insert(it.key(), *value);
            noteChange(it.key(), before, &changes);
        }
    }
    notify(changes);
}

QVariantMap UserDefaults::registeredDefaults() const
{
    std::lock_guard lock(mutex_);
    return registered_;
}

QVariant UserDefaults::value(const QString& key) const
{
    std::lock_guard lock(mutex_);
    return effectiveValue(key);
}

bool UserDefaults::contains(const QString& key) const
{
    std::lock_guard lock(mutex_);
    return user_.contains(key) || registered_.contains(key);
}

bool UserDefaults::boolForKey(const QString& key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (isNumber(v))
        return v.toDouble() != 0.0;
    if (v.typeId() == QMetaType::QString) {
        const QString text = v.toString().trimmed();
        if (text.compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0
            || text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        const auto number = numberFromString(text);
        return number && *number != 0.0;
    }
    return false;
}

qint64 UserDefaults::integerForKey(const QString& key) const
{
    const QVariant v = value(key);
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? 1 : 0;
    case QMetaType::LongLong:
        return v.toLongLong();
    case QMetaType::ULongLong:
        return std::min<quint64>(v.toULongLong(), std::numeric_limits<qint64>::max());
    case QMetaType::Double:
        return clampToInt64(v.toDouble());
    case QMetaType::QString: {
        bool ok = false;
        const qint64 whole = v.toString().trimmed().toLongLong(&ok);
        if (ok)
            return whole;
        const auto number = numberFromString(v.toString());
        return number ? clampToInt64(*number) : 0;
    }
    default:
        return 0;
    }
}

double UserDefaults::doubleForKey(const QString& key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? 1.0 : 0.0;
    if (isNumber(v))
        return v.toDouble();
    if (v.typeId() == QMetaType::QString)
        return numberFromString(v.toString()).value_or(0.0);
    return 0.0;
}

QString UserDefaults::stringForKey(const QString& key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::QString)
        return v.toString();
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (isNumber(v))
        return v.toString();
    return {};
}

QVariantList UserDefaults::arrayForKey(const QString& key) const
{
    const QVariant v = value(key);
    return v.typeId() == QMetaType::QVariantList ? v.toList() : QVariantList();
}

QVariantMap UserDefaults::dictionaryForKey(const QString& key) const
{
    const QVariant v = value(key);
    return v.typeId() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

QByteArray UserDefaults::dataForKey(const QString& key) const
{
    const QVariant v = value(key);
    return v.typeId() == QMetaType::QByteArray ? v.toByteArray() : QByteArray();
}

void UserDefaults::setValue(const QString& key, const QVariant& value)
{
    if (!value.isValid()) {
        removeValue(key);
        return;
    }
    QString error;
    auto normal = PropertyList::normalized(value, &error);
    if (!normal) {
        const QString message = QStringLiteral("Preference “%1” not changed: %2").arg(key, error);
        logLine(message);
        std::lock_guard lock(mutex_);
        lastError_ = message;
        return;
    }

    std::vector<Change> changes;
    bool changedOnDisk = false;
    {
        std::lock_guard lock(mutex_);
        auto it = user_.constFind(key);
        changedOnDisk = it == user_.cend() || !sameValue(*it, *normal);
        if (changedOnDisk) {
            const QVariant before = effectiveValue(key);
            user_.insert(key, *normal);
            ++snapshotGeneration_;
            noteChange(key, before, &changes);
        }
    }
    if (changedOnDisk)
        save();
    notify(changes);
}

void UserDefaults::removeValue(const QString& key)
{
    std::vector<Change> changes;
    bool removed = false;
    {
        std::lock_guard lock(mutex_);
        const QVariant before = effectiveValue(key);
        removed = user_.remove(key) > 0;
        if (removed) {
            ++snapshotGeneration_;
            noteChange(key, before, &changes);
        }
    }
    if (removed)
        save();
    notify(changes);
}

void UserDefaults::setInitialValues(const QVariantMap& values)
{
    QVariantMap normal;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        QString error;
        if (auto value = PropertyList::normalized(it.value(), &error))
            normal.insert(it.key(), *value);
        else
            logLine(QStringLiteral("Initial value of “%1” ignored: %2").arg(it.key(), error));
    }
    std::lock_guard lock(mutex_);
    initial_ = std::move(normal);
}

QVariantMap UserDefaults::initialValues() const
{
    std::lock_guard lock(mutex_);
    return initial_;
}

void UserDefaults::revertToInitialValues()
{
    std::vector<Change> changes;
    bool changedOnDisk = false;
    {
        std::lock_guard lock(mutex_);
        for (auto it = initial_.cbegin(); it != initial_.cend(); ++it) {
            auto current = user_.constFind(it.key());
            if (current != user_.cend() && sameValue(*current, it.value()))
                continue;
            const QVariant before = effectiveValue(it.key());
            user_.insert(it.key(), it.value());
            changedOnDisk = true;
            noteChange(it.key(), before, &changes);
        }
        if (changedOnDisk)
            ++snapshotGeneration_;
    }
    if (changedOnDisk)
        save();
    notify(changes);
}

Subscription UserDefaults::observe(const QString& key, std::function<void(const QVariant&)> callback)
{
    auto observer = std::make_shared<Observer>(std::move(callback));
    {
        std::lock_guard lock(observers_->mutex);
        observers_->byKey.emplace(key, observer);
    }
    std::weak_ptr<ObserverRegistry> registry = observers_;
    return Subscription([registry, key, observer] {
        if (auto live = registry.lock()) {
            std::lock_guard lock(live->mutex);
            auto [first, last] = live->byKey.equal_range(key);
            for (auto it = first; it != last; ++it) {
                if (it->second == observer) {
                    live->byKey.erase(it);
                    break;
                }
            }
        }
        observer->cancel();
    });
}

void UserDefaults::notify(const std::vector<Change>& changes)
{
    for (const Change& change : changes) {
        std::vector<std::shared_ptr<Observer>> targets;
        {
            std::lock_guard lock(observers_->mutex);
            auto [first, last] = observers_->byKey.equal_range(change.key);
            for (auto it = first; it != last; ++it)
                targets.push_back(it->second);
        }
        for (const auto& observer : targets)
            observer->deliver(change.value, change.sequence);
    }
}

std::optional<UserDefaults::Reset> UserDefaults::takeReset()
{
    std::lock_guard lock(mutex_);
    return std::exchange(reset_, std::nullopt);
}

void UserDefaults::reload()
{
    const QVariantMap fresh = loadFile();
    std::vector<Change> changes;
    quint64 generation = 0;
    {
        std::lock_guard lock(mutex_);
        QStringList keys = user_.keys() + fresh.keys();
        keys.removeDuplicates();
        std::vector<std::pair<QString, QVariant>> before;
        before.reserve(size_t(keys.size()));
        for (const QString& key : keys)
            before.emplace_back(key, effectiveValue(key));
        user_ = fresh;
        generation = ++snapshotGeneration_;
        for (const auto& [key, old] : before)
            noteChange(key, old, &changes);
    }
    // What is on disk is what we hold now: a write of an older snapshot that
    // is still waiting must not replace it (newer ones still go through).
    {
        std::lock_guard writeLock(writeMutex_);
        writtenGeneration_ = std::max(writtenGeneration_, generation);
    }
    notify(changes);
}

QString UserDefaults::lastError() const
{
    std::lock_guard lock(mutex_);
    return lastError_;
}

bool UserDefaults::save()
{
    QByteArray data;
    QString error;
    quint64 generation = 0;
    {
        std::lock_guard lock(mutex_);
        generation = snapshotGeneration_;
        data = PropertyList::toData(user_, PropertyList::Format::Xml, &error);
    }

    bool ok = false;
    {
        std::lock_guard writeLock(writeMutex_);
        // Another thread already wrote this snapshot or a newer one.
        if (generation <= writtenGeneration_)
            return true;
        if (!data.isEmpty()) {
            std::error_code ec;
            fs::create_directories(file_.parent_path(), ec);
            ok = writeFileAtomically(file_, data, &error);
        }
        if (ok)
            writtenGeneration_ = generation;
    }

    std::lock_guard lock(mutex_);
    if (ok) {
        lastError_.clear();
    } else {
        lastError_ = error.isEmpty() ? QStringLiteral("The preferences could not be saved.") : error;
        logLine(lastError_);
    }
    return ok;
}

} // namespace platform
