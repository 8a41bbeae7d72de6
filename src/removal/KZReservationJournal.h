#pragma once

#include "platform/NameReservation.h"
#include "removal/KZRemovalJournal.h"

#include <filesystem>
#include <memory>

// For an Undo or a Restore, whose moves back a kill may leave half done as
// it may a removal's: while it lives, the names that moves on this thread
// reserve are named in a journal of their own, begun at the first (none is
// made while nothing is reserved, or asked for), which the recovery from a
// kill reads as it reads a removal's. The journal goes with it.
class KZReservationJournal : public platform::ReservationWatcher {
public:
    KZReservationJournal();
    ~KZReservationJournal() override;
    KZReservationJournal(const KZReservationJournal&) = delete;
    KZReservationJournal& operator=(const KZReservationJournal&) = delete;

    // The journal, begun now if it was not yet (null when it cannot be
    // made): a Restore names in it what it will touch besides names.
    KZRemovalJournal* journal();

    void willReserve(const platform::ReservationIntent& intent) override;
    void reserved(const std::filesystem::path& place, const platform::FileIdentity& identity) override;
    void willCopy(const platform::ReservationIntent& intent) override;
    void copied(const std::filesystem::path& place) override;

private:
    std::unique_ptr<KZRemovalJournal> journal_;
    bool tried_ = false;
    platform::WatchingReservations watching_;
};
