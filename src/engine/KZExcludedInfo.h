#pragma once

#include <QtGlobal>

#include <filesystem>
#include <memory>
#include <vector>

// The excluded locations of one folder source, in the volume-relative form
// that the scan compares against, each location once.
class KZExcludedInfo {
public:
    KZExcludedInfo() = default;
    explicit KZExcludedInfo(std::vector<std::filesystem::path> excluded)
        : excluded_(std::move(excluded)), count_(excluded_.size()) {}

    static std::shared_ptr<KZExcludedInfo> create(std::vector<std::filesystem::path> excluded = {})
    {
        return std::make_shared<KZExcludedInfo>(std::move(excluded));
    }

    const std::vector<std::filesystem::path>& excluded() const { return excluded_; }
    void setExcluded(std::vector<std::filesystem::path> excluded) { excluded_ = std::move(excluded); }

    // How many leading entries of excluded() the scan consults; never more
    // than there are.
    quint64 count() const { return count_; }
    void setCount(quint64 count) { count_ = count; }

private:
    std::vector<std::filesystem::path> excluded_;
    quint64 count_ = 0;
};
