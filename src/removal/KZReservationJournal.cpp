#include "removal/KZReservationJournal.h"

namespace fs = std::filesystem;

KZReservationJournal::KZReservationJournal()
    : watching_(*this)
{
}

KZReservationJournal::~KZReservationJournal()
{
    if (journal_)
        journal_->finish(std::nullopt);
}

KZRemovalJournal* KZReservationJournal::journal()
{
    // Without a journal the move goes on as it always could: only a
    // leftover of a kill is not named.
    if (!tried_) {
        tried_ = true;
        journal_ = KZRemovalJournal::begin();
    }
    return journal_.get();
}

void KZReservationJournal::willReserve(const platform::ReservationIntent& intent)
{
    if (KZRemovalJournal* named = journal())
        named->reserving(intent);
}

void KZReservationJournal::willCopy(const platform::ReservationIntent& intent)
{
    if (KZRemovalJournal* named = journal())
        named->copying(intent);
}

void KZReservationJournal::copied(const fs::path& place)
{
    if (journal_)
        journal_->copied(place);
}

void KZReservationJournal::reserved(const fs::path& place, const platform::FileIdentity& identity)
{
    if (journal_)
        journal_->reserved(place, identity);
}
