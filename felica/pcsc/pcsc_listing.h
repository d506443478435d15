// The PC/SC readers the service knows, for a program's list of readers.
#pragma once

#include "felica/deadline.h"
#include "felica/reader_listing.h"

namespace felica {

// Every reader the PC/SC service knows: whether a card is on it and the card's ATR, and the
// dialect its name or that ATR points at. No call waits past `deadline`.
FamilyListing list_pcsc_readers(const Deadline& deadline);

}  // namespace felica
