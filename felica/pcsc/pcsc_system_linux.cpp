// pcsc-lite: reader names are UTF-8 `char` strings, and the ATR and receive buffers have the
// sizes pcsc-lite defines.
#include <algorithm>

#include "felica/pcsc/pcsc_system.h"

namespace felica::pcsc::system {

const DWORD kReceiveRoom = MAX_BUFFER_SIZE_EXTENDED;

LONG list_readers(SCARDCONTEXT context, std::vector<std::string>& names) {
    DWORD length = 0;
    LONG rv = SCardListReaders(context, nullptr, nullptr, &length);
    if (rv != SCARD_S_SUCCESS) {
        return rv;
    }
    std::string buffer(length, '\0');
    rv = SCardListReaders(context, nullptr, buffer.data(), &length);
    if (rv != SCARD_S_SUCCESS) {
        return rv;
    }
    // A list of NUL-terminated names, ended by an empty one.
    for (std::size_t at = 0; at < buffer.size() && buffer[at] != '\0';) {
        const std::size_t end = buffer.find('\0', at);
        names.push_back(buffer.substr(at, end - at));
        at = end + 1;
    }
    return SCARD_S_SUCCESS;
}

LONG get_status_change(SCARDCONTEXT context, const std::vector<std::string>& names, DWORD wait_ms,
                       std::vector<DWORD>& states, std::vector<Bytes>* atrs) {
    std::vector<SCARD_READERSTATE> readers(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        readers[i].szReader = names[i].c_str();
        readers[i].dwCurrentState = i < states.size() ? states[i] : SCARD_STATE_UNAWARE;
    }
    const LONG rv =
        SCardGetStatusChange(context, wait_ms, readers.data(), static_cast<DWORD>(readers.size()));
    if (rv == SCARD_S_SUCCESS) {
        states.clear();
        for (const SCARD_READERSTATE& reader : readers) {
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
    return SCardConnect(context, name.c_str(), share_mode, protocols, &card, &protocol);
}

LONG card_atr(SCARDHANDLE card, Bytes& atr) {
    BYTE buffer[MAX_ATR_SIZE];
    DWORD length = sizeof buffer;
    DWORD state = 0;
    DWORD protocol = 0;
    const LONG rv = SCardStatus(card, nullptr, nullptr, &state, &protocol, buffer, &length);
    if (rv == SCARD_S_SUCCESS) {
        atr.assign(buffer, buffer + length);
    }
    return rv;
}

}  // namespace felica::pcsc::system
