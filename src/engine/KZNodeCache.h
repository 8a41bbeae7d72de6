#pragma once

// What a content comparison keeps between comparisons: the block digests
// of a file already read, or the record made from an image's pixels. The
// hashing code defines the concrete forms; a node or an item only owns one
// and frees it with itself.
class KZNodeCache {
public:
    virtual ~KZNodeCache() = default;

protected:
    KZNodeCache() = default;
    KZNodeCache(const KZNodeCache&) = default;
    KZNodeCache& operator=(const KZNodeCache&) = default;
};
