#pragma once

#include "engine/KZFoundList.h"

#include <QMetaType>
#include <QVariant>

#include <memory>
#include <mutex>

// Carries a found list inside a userInfo map ("KZResultFoundItems"). A
// QVariant must be copyable while the list must have one owner: every copy
// of a parcel shares one slot, and the first take() empties it. A parcel that
// nobody takes frees the list with its last copy.
class KZFoundListParcel {
public:
    KZFoundListParcel() = default;
    explicit KZFoundListParcel(KZFoundList list);

    static QVariant toVariant(KZFoundList list);
    // The list inside a variant that holds a parcel, taken out of it; an empty
    // list for any other variant or a parcel already taken.
    static KZFoundList take(const QVariant& value);

    KZFoundList take() const;
    // True when there is nothing (left) to take.
    bool isEmpty() const;

private:
    struct Slot {
        mutable std::mutex lock;
        KZFoundList list;
    };
    std::shared_ptr<Slot> slot_;
};

Q_DECLARE_METATYPE(KZFoundListParcel)
