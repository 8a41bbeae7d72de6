#include "engine/KZFoundListParcel.h"

KZFoundListParcel::KZFoundListParcel(KZFoundList list) : slot_(std::make_shared<Slot>())
{
    slot_->list = std::move(list);
}

QVariant KZFoundListParcel::toVariant(KZFoundList list)
{
    return QVariant::fromValue(KZFoundListParcel(std::move(list)));
}

KZFoundList KZFoundListParcel::take(const QVariant& value)
{
    if (value.metaType() != QMetaType::fromType<KZFoundListParcel>())
        return {};
    return value.value<KZFoundListParcel>().take();
}

KZFoundList KZFoundListParcel::take() const
{
    if (!slot_)
        return {};
    std::lock_guard guard(slot_->lock);
    return std::move(slot_->list);
}

bool KZFoundListParcel::isEmpty() const
{
    if (!slot_)
        return true;
    std::lock_guard guard(slot_->lock);
    return slot_->list.isEmpty();
}
