#pragma once

#include "platform/Subscription.h"

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

// The user's preferences: a registration domain kept in memory (the values the
// program registers at start-up) under a user domain persisted as an XML
// property list. A value read falls through from the user domain to the
// registration domain. Safe to use from any thread.
//
// Values are kept in the types a property list reads back (see
// PropertyList::normalized): an int set here is read as a qint64, a
// QStringList as a QVariantList, so a value looks the same before and after a
// restart.
class UserDefaults {
public:
    // The program's shared instance, on $XDG_CONFIG_HOME/maravex/defaults.plist,
    // created at first use.
    static UserDefaults& standard();
    // Replaces the shared instance (tests); nullptr restores a fresh default one
    // at the next standard(). References to the old instance become invalid.
    static void setStandard(std::unique_ptr<UserDefaults> instance);

    // Loads `file` if it exists. A file that cannot be parsed is renamed aside
    // (".damaged-<time>") with a log line, the user domain starts empty and
    // takeReset() says so.
    explicit UserDefaults(std::filesystem::path file);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    static std::filesystem::path defaultFilePath();
    const std::filesystem::path& filePath() const { return file_; }

    // Adds to the registration domain (replacing registered values of the
    // same keys). Nothing registered is written to disk.
    void registerDefaults(const QVariantMap& values);
    QVariantMap registeredDefaults() const;

    QVariant value(const QString& key) const;
    bool contains(const QString& key) const;
    // Numbers: non-zero; strings: "YES", "true" (any case) or a non-zero number.
    bool boolForKey(const QString& key) const;
    // Numbers (doubles truncated), booleans as 0/1, numeric strings; else 0.
    qint64 integerForKey(const QString& key) const;
    double doubleForKey(const QString& key) const;
    // Strings, and numbers in their decimal form; else empty.
    QString stringForKey(const QString& key) const;
    QVariantList arrayForKey(const QString& key) const;
    QVariantMap dictionaryForKey(const QString& key) const;
    QByteArray dataForKey(const QString& key) const;

    // Stores the value in the user domain, writes the file and then calls the
    // observers of `key`. An invalid QVariant removes the key. A value with no
    // property-list form is refused: nothing changes and lastError() says why.
    void setValue(const QString& key, const QVariant& value);
    void removeValue(const QString& key);

    // The initial values that "revert to initial values" restores: every key of
    // the set gets its initial value back; keys outside the set are untouched.
    void setInitialValues(const QVariantMap& values);
    QVariantMap initialValues() const;
    void revertToInitialValues();

    // Calls `callback` with the key's new effective value after every change of
    // it (set, remove, revert, reload, registration that changes what is
    // read), outside every lock of this object, on the thread that made the
    // change; observers of one key are called in the order they registered.
    // When changes race on several threads an observer may skip a value that
    // is already outdated, never the last one.
    [[nodiscard]] Subscription observe(const QString& key,
                                       std::function<void(const QVariant&)> callback);

    // Reads the file again (as after a restart of the program).
    void reload();
    // Last error (a write that failed, a value refused), empty after a
    // successful write.
    QString lastError() const;

    // When the file could not be read and the settings started afresh: why,
    // and where the damaged file went (empty when it could not be moved).
    // Answered once, so that the user is told once.
    struct Reset {
        QString reason;
        std::filesystem::path movedTo;
    };
    std::optional<Reset> takeReset();

private:
    struct Observer;
    struct ObserverRegistry;
    struct Change {
        QString key;
        QVariant value;
        quint64 sequence;
    };

    QVariantMap loadFile();
    QVariant effectiveValue(const QString& key) const; // caller holds mutex_
    void noteChange(const QString& key, const QVariant& before, std::vector<Change>* changes);
    bool save();
    void notify(const std::vector<Change>& changes);

    std::filesystem::path file_;
    mutable std::recursive_mutex mutex_; // guards the domains and lastError_
    QVariantMap registered_;
    QVariantMap user_;
    QVariantMap initial_;
    QString lastError_;
    std::optional<Reset> reset_; // under mutex_
    quint64 sequence_ = 0;          // orders the changes seen by observers
    quint64 snapshotGeneration_ = 0; // under mutex_: the user domain's version

    // Serialises the writes, so that a snapshot never replaces a newer one.
    std::mutex writeMutex_;
    quint64 writtenGeneration_ = 0; // under writeMutex_

    std::shared_ptr<ObserverRegistry> observers_;
};

} // namespace platform
