#pragma once

#include <QtGlobal>

// What a content comparison keeps between comparisons: the block digests
// of a file already read, or the record made from an image's pixels. The
// hashing code defines the concrete forms; a node or an item only owns one
// and frees it with itself.
class KZNodeCache {
public:
    // Which concrete form this is: the comparisons ask for every pair of
    // same-size files, and a tag costs less than a cast there.
    enum class Kind : quint8 { Other, Content, Image };

    virtual ~KZNodeCache() = default;
    Kind kind() const { return kind_; }

protected:
    KZNodeCache() = default;
    explicit KZNodeCache(Kind kind) : kind_(kind) {}
    KZNodeCache(const KZNodeCache&) = default;
    KZNodeCache& operator=(const KZNodeCache&) = default;

private:
    Kind kind_ = Kind::Other;
};
