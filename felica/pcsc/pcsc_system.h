// The PC/SC calls whose form differs between pcsc-lite (Linux) and Windows' winscard.dll,
// with reader names in UTF-8 on both. pcsc_system_linux.cpp and pcsc_system_windows.cpp
// implement it; everything else of the backend is shared.
//
// What is the same on both and used as it is: SCardEstablishContext, SCardReleaseContext,
// SCardCancel, SCardBeginTransaction, SCardEndTransaction, SCardDisconnect and SCardTransmit,
// the SCARD_* return codes and flags. LONG and DWORD differ in width (64-bit `long` in
// pcsc-lite on x86_64, 32 bits on Windows), so return codes travel as `long` and are compared
// only with the SCARD_* names, never with numbers.
#pragma once

#ifdef _WIN32
#include <windows.h>  // winscard.h builds on its types
#endif
#include <winscard.h>

#include <string>
#include <vector>

#include "felica/types.h"

namespace felica::pcsc::system {

// The most bytes a response APDU may bring, extended APDUs included.
extern const DWORD kReceiveRoom;

// The names of the readers the service knows.
LONG list_readers(SCARDCONTEXT context, std::vector<std::string>& names);

// SCardGetStatusChange: waits at most `wait_ms` for a reader's state to differ from the one
// in `states` (SCARD_STATE_* flags, one per name; SCARD_STATE_UNAWARE when unknown, which
// answers at once) and puts the readers' states in `states`, when the call succeeds, and
// their cards' ATRs in `atrs` when it is given.
LONG get_status_change(SCARDCONTEXT context, const std::vector<std::string>& names, DWORD wait_ms,
                       std::vector<DWORD>& states, std::vector<Bytes>* atrs = nullptr);

// Connects to the card on the reader `name`.
LONG connect(SCARDCONTEXT context, const std::string& name, DWORD share_mode, DWORD protocols,
             SCARDHANDLE& card, DWORD& protocol);

// The ATR of the connected card.
LONG card_atr(SCARDHANDLE card, Bytes& atr);

}  // namespace felica::pcsc::system
