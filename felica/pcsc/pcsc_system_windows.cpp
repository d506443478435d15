// Windows' winscard.dll (the Smart Card service, SCardSvr). How it differs from pcsc-lite:
// - Reader names are UTF-16 in the W API; the A API would pass them through the ANSI code
//   page. Names are converted to UTF-8 here and back for SCardConnectW.
// - SCardListReadersW can allocate the list itself (SCARD_AUTOALLOCATE), which spares the
//   race between asking for the size and a reader being plugged in; SCardFreeMemory frees it.
// - pcsc-lite's MAX_BUFFER_SIZE_EXTENDED and MAX_ATR_SIZE do not exist: an extended APDU's
//   answer holds at most 65536 data bytes and a status word, an ATR at most 33 bytes
//   (SCARD_ATR_LENGTH); the ATR buffer here is as large as the reader state's, 36.
// - With no reader attached, Windows 8 and later stop the service: SCardEstablishContext or
//   SCardListReaders then answer SCARD_E_NO_SERVICE or SCARD_E_SERVICE_STOPPED (both the
//   "service not running" error type), no readers SCARD_E_NO_READERS_AVAILABLE.
// - SCardCancel ends a wait in SCardGetStatusChange as in pcsc-lite, and nothing else.
#include <algorithm>
#include <memory>

#include "felica/pcsc/pcsc_system.h"
#include "felica/system/utf16.h"

namespace felica::pcsc::system {

using felica::system::utf16_from_utf8;
using felica::system::utf8_from_utf16;

const DWORD kReceiveRoom = 65536 + 2;

LONG list_readers(SCARDCONTEXT context, std::vector<std::string>& names) {
    LPWSTR list = nullptr;
    DWORD length = SCARD_AUTOALLOCATE;
    const LONG rv = SCardListReadersW(context, nullptr, reinterpret_cast<LPWSTR>(&list), &length);
    if (rv != SCARD_S_SUCCESS) {
        return rv;
    }
    // A list of NUL-terminated names, ended by an empty one.
    for (const wchar_t* name = list; name < list + length && *name != L'\0';) {
        const std::wstring_view view(name);
        names.push_back(utf8_from_utf16(view));
        name += view.size() + 1;
    }
    (void)SCardFreeMemory(context, list);
    return SCARD_S_SUCCESS;
}

LONG get_status_change(SCARDCONTEXT context, const std::vector<std::string>& names, DWORD wait_ms,
                       std::vector<DWORD>& states, std::vector<Bytes>* atrs) {
    std::vector<std::wstring> wide_names;
    for (const std::string& name : names) {
        wide_names.push_back(utf16_from_utf8(name));
    }
    std::vector<SCARD_READERSTATEW> readers(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        readers[i].szReader = wide_names[i].c_str();
        readers[i].dwCurrentState = i < states.size() ? states[i] : SCARD_STATE_UNAWARE;
    }
    const LONG rv =
        SCardGetStatusChangeW(context, wait_ms, readers.data(), static_cast<DWORD>(readers.size()));
    if (rv == SCARD_S_SUCCESS) {
        states.clear();
        for (const SCARD_READERSTATEW& reader : readers) {
            states.push_back(reader.dwEventState);
            if (atrs) {
                const DWORD length = std::min<DWORD>(reader.cbAtr, sizeof reader.rgbAtr);
                atrs->emplace_back(reader.rgbAtr, reader.rgbAtr + length);
            }
        }
    }
    return rv;
}

LONG connect(SCARDCONTEXT context, const std::string& name, DWORD share_mode, DWORD protocols,
             SCARDHANDLE& card, DWORD& protocol) {
    return SCardConnectW(context, utf16_from_utf8(name).c_str(), share_mode, protocols, &card,
                         &protocol);
}

LONG card_atr(SCARDHANDLE card, Bytes& atr) {
    BYTE buffer[36];
    DWORD length = sizeof buffer;
    DWORD state = 0;
    DWORD protocol = 0;
    const LONG rv = SCardStatusW(card, nullptr, nullptr, &state, &protocol, buffer, &length);
    if (rv == SCARD_S_SUCCESS) {
        atr.assign(buffer, buffer + length);
    }
    return rv;
}

}  // namespace felica::pcsc::system
