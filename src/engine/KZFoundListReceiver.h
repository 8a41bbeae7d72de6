#pragma once

#include <QVariantMap>

// The side that takes a finished search's found list: the result model. It
// receives the result-info map of "searchDidTerminate", takes the list out
// of "KZResultFoundItems" (KZFoundListParcel::take) and from then on owns it.
class KZFoundListReceiver {
public:
    virtual ~KZFoundListReceiver() = default;
    virtual void doCreateList(const QVariantMap& resultInfo) = 0;
};
