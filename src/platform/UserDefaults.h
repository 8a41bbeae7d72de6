#pragma once

#include "platform/Subscription.h"

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace platform {

// The user's preferences: a registration domain kept in memory (the values the
// program registers at start-up) under a user domain persisted as an XML
// property list. A value read falls through from the user domain to the
// registration domain. Safe to use from any thread.
class UserDefaults {
public:
    // The program's shared instance, on $XDG_CONFIG_HOME/maravex/defaults.plist.
    static UserDefaults& standard();
    // Replaces the shared instance (tests); nullptr restores a fresh default one.
    static void setStandard(std::unique_ptr<UserDefaults> instance);

    // Loads `file` if it exists. A file that cannot be parsed is renamed aside
    // (".damaged-<time>") with a log line, and the user domain starts empty.
    explicit UserDefaults(std::filesystem::path file);
    ~UserDefaults();

    static std::filesystem::path defaultFilePath();
    const std::filesystem::path& filePath() const { return file_; }

    void registerDefaults(const QVariantMap& values);
    QVariantMap registeredDefaults() const;

    QVariant value(const QString& key) const;
    bool contains(const QString& key) const;
    bool boolForKey(const QString& key) const;
    qint64 integerForKey(const QString& key) const;
    double doubleForKey(const QString& key) const;
    QString stringForKey(const QString& key) const;
    QVariantList arrayForKey(const QString& key) const;
    QVariantMap dictionaryForKey(const QString& key) const;
    QByteArray dataForKey(const QString& key) const;

    // Stores the value in the user domain, writes the file and then calls the
    // observers of `key`. An invalid QVariant removes the key.
    void setValue(const QString& key, const QVariant& value);
    void removeValue(const QString& key);

    // The initial values that "revert to initial values" restores: every key of
    // the set gets its initial value back; keys outside the set are untouched.
    void setInitialValues(const QVariantMap& values);
    QVariantMap initialValues() const;
    void revertToInitialValues();

    // Calls `callback` with the key's new effective value after every change of
    // it (set, remove, revert, registration that changes what is read).
    [[nodiscard]] Subscription observe(const QString& key,
                                       std::function<void(const QVariant&)> callback);

    // Reads the file again (as after a restart of the program).
    void reload();
    // Last write's error, empty when the last write succeeded.
    QString lastError() const;

private:
    struct Observer;
    void load();
    bool save();
    void notify(const QString& key);

    std::filesystem::path file_;
    mutable std::recursive_mutex mutex_;
    QVariantMap registered_;
    QVariantMap user_;
    QVariantMap initial_;
    QString lastError_;
    std::multimap<QString, std::shared_ptr<Observer>> observers_;
    quint64 nextObserverId_ = 0;
};

} // namespace platform
