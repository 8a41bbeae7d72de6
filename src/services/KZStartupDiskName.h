#pragma once

#include <QString>

#include <functional>
#include <mutex>
#include <optional>

// The name of the startup disk: the label of the root file system, else
// "Linux". Read once and kept; safe from any thread.
QString KZStartupDiskName();

// Stores `name` as the startup disk's name; a null name leaves the stored one.
void KZSetStartupDiskName(const QString& name);

// The store behind KZStartupDiskName. The reader runs under the lock, so
// callers racing on the first use all wait for the one answer instead of
// reading the disk each; an unknown answer (no value) is not kept, so the
// next call asks again.
class KZStartupDiskNameCache {
public:
    using Reader = std::function<std::optional<QString>()>;
    explicit KZStartupDiskNameCache(Reader reader) : reader_(std::move(reader)) {}

    // Empty while the reader has not answered.
    QString name();
    void setName(const QString& name);

private:
    std::mutex lock_;
    std::optional<QString> name_;
    Reader reader_;
};
