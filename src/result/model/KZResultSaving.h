#pragma once

#include <QVariantMap>

// A save of one result in progress. It posts "savingDidFinish" with the
// result controller (the request's "sender") as object when it has ended,
// saved or not; the result controller keeps it alive until then.
class KZResultSaving {
public:
    virtual ~KZResultSaving() = default;
    virtual void saveItemsWithDict(const QVariantMap& request) = 0;
};
