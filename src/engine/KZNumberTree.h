#pragma once

#include <QtGlobal>

#include <filesystem>
#include <mutex>
#include <string>

// Remembers the paths met during one search so that an item offered twice
// (the two halves of the library pass may reach the same image) is taken
// once. Safe to call from several threads.
class KZNumberTree {
public:
    KZNumberTree() = default;
    ~KZNumberTree() { clear(); }
    KZNumberTree(const KZNumberTree&) = delete;
    KZNumberTree& operator=(const KZNumberTree&) = delete;

    // 0 when the path was not met before (it is recorded now); -48 when it
    // was, or when there is no memory to record it.
    qint16 urlAlreadyExist(const std::filesystem::path& path);

    bool isEmpty() const;
    void clear();

private:
    // Ordered by the hash of the path and, between equal hashes, by the path
    // itself: a hash alone would make two different paths one.
    struct NumberTree {
        quint64 value = 0;
        std::string path;
        NumberTree* left = nullptr;
        NumberTree* right = nullptr;
    };

    // Links the node, or sets fileIDWasFound_ when its key is there already.
    void addNodeNumberToTree(NumberTree* node);

    mutable std::recursive_mutex nodeIdLock_;
    bool fileIDWasFound_ = false;
    NumberTree* numberTreeIDs_ = nullptr;
};
