#include "felica/pcsc/pcsc_session.h"

#include <atomic>

#include "felica/pcsc/apdu.h"
#include "felica/pcsc/pcsc_errors.h"
#include "felica/pcsc/pcsc_system.h"

namespace felica::pcsc {
namespace {

constexpr Byte kSwMoreData = 0x61;
constexpr int kMaxGetResponses = 8;

}  // namespace

// Shared with the jobs on the worker thread, which may outlive the session.
struct PcscSession::Handles {
    SCARDCONTEXT context = 0;
    // Read by the caller's thread too, to cancel: set only once `context` holds a context.
    std::atomic<bool> has_context = false;
    SCARDHANDLE card = 0;
    bool connected = false;
    bool in_transaction = false;
    DWORD protocol = SCARD_PROTOCOL_UNDEFINED;

    void end_card() {
        if (in_transaction) {
            (void)SCardEndTransaction(card, SCARD_LEAVE_CARD);
            in_transaction = false;
        }
        if (connected) {
            (void)SCardDisconnect(card, SCARD_LEAVE_CARD);
            connected = false;
        }
    }

    void release() {
        end_card();
        if (has_context) {
            (void)SCardReleaseContext(context);
            has_context = false;
        }
    }
};

PcscSession::PcscSession(const Deadline& deadline)
    : handles_(std::make_shared<Handles>()), deadline_(deadline) {}

PcscSession::~PcscSession() {
    auto cleanup = [handles = handles_] { handles->release(); };
    if (watchdog_.overran() || deadline_.expired()) {
        watchdog_.post(cleanup);
    } else {
        (void)watchdog_.run(cleanup, deadline_.cap(kCallAllowance));
    }
}

bool PcscSession::stalled() const {
    return watchdog_.overran();
}

RwError PcscSession::failed(const std::string& call, long code) {
    failure_ = call + ": " + pcsc_code_name(code);
    return rw_error_of_pcsc(code);
}

RwError PcscSession::overran(const std::string& call) {
    failure_ = call + (deadline_.expired() && !watchdog_.overran()
                           ? ": not sent, the click ran out of time"
                           : ": no answer in time");
    return RwError::reader_timeout;
}

std::optional<long> PcscSession::guarded(std::function<long()> call,
                                         std::chrono::microseconds limit) {
    if (watchdog_.overran() || deadline_.expired()) {
        return std::nullopt;
    }
    limit = deadline_.cap(limit);
    // SCardCancel ends a wait in SCardGetStatusChange; other calls just run on, abandoned.
    return watchdog_.call<long>(std::move(call), limit, [handles = handles_] {
        if (handles->has_context) {
            (void)SCardCancel(handles->context);
        }
    });
}

RwError PcscSession::establish() {
    const auto code = guarded(
        [handles = handles_] {
            SCARDCONTEXT context = 0;
            const LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
            if (rv == SCARD_S_SUCCESS) {
                handles->context = context;
                handles->has_context = true;
            }
            return static_cast<long>(rv);
        },
        kCallAllowance);
    if (!code) {
        return overran("SCardEstablishContext");
    }
    return *code == SCARD_S_SUCCESS ? RwError::none : failed("SCardEstablishContext", *code);
}

RwError PcscSession::list_readers(std::vector<std::string>& names) {
    auto listed = std::make_shared<std::vector<std::string>>();
    const auto code = guarded(
        [handles = handles_, listed] {
            return static_cast<long>(system::list_readers(handles->context, *listed));
        },
        kCallAllowance);
    if (!code) {
        return overran("SCardListReaders");
    }
    if (*code != SCARD_S_SUCCESS) {
        return failed("SCardListReaders", *code);
    }
    if (listed->empty()) {
        return failed("SCardListReaders", SCARD_E_NO_READERS_AVAILABLE);
    }
    names = std::move(*listed);
    return RwError::none;
}

RwError PcscSession::cards_present(const std::vector<std::string>& names,
                                   std::vector<bool>& present, std::vector<Bytes>* atrs) {
    auto states = std::make_shared<std::vector<bool>>();
    auto card_atrs = std::make_shared<std::vector<Bytes>>();
    const auto code = guarded(
        [handles = handles_, names, states, card_atrs] {
            // With every state unknown to us, the current ones come back at once.
            std::vector<DWORD> flags;
            const LONG rv =
                system::get_status_change(handles->context, names, 0, flags, card_atrs.get());
            for (const DWORD state : flags) {
                states->push_back((state & SCARD_STATE_PRESENT) != 0 &&
                                  (state & SCARD_STATE_MUTE) == 0);
            }
            return static_cast<long>(rv);
        },
        kCallAllowance);
    if (!code) {
        return overran("SCardGetStatusChange");
    }
    if (*code != SCARD_S_SUCCESS) {
        return failed("SCardGetStatusChange", *code);
    }
    present = std::move(*states);
    if (atrs) {
        *atrs = std::move(*card_atrs);
        atrs->resize(present.size());
        for (std::size_t i = 0; i < present.size(); ++i) {
            if (!present[i]) {
                (*atrs)[i].clear();
            }
        }
    }
    return RwError::none;
}

RwError PcscSession::reader_state(const std::string& reader, ReaderState& state) {
    return wait_for_change(reader, {}, std::chrono::microseconds::zero(), state);
}

RwError PcscSession::wait_for_change(const std::string& reader, const ReaderState& known,
                                     std::chrono::microseconds limit, ReaderState& now) {
    limit = deadline_.cap(limit);
    auto seen = std::make_shared<DWORD>(static_cast<DWORD>(known.raw));
    const auto wait_ms =
        static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(limit).count());
    const auto code = guarded(
        [handles = handles_, reader, seen, wait_ms] {
            std::vector<DWORD> states = {*seen & ~static_cast<DWORD>(SCARD_STATE_CHANGED)};
            const LONG rv = system::get_status_change(handles->context, {reader}, wait_ms, states);
            if (rv == SCARD_S_SUCCESS) {
                *seen = states.front() & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
            }
            return static_cast<long>(rv);
        },
        limit + kCallAllowance);
    if (!code) {
        return overran("SCardGetStatusChange");
    }
    if (*code != SCARD_S_SUCCESS && *code != SCARD_E_TIMEOUT) {
        return failed("SCardGetStatusChange", *code);
    }
    now.raw = static_cast<std::uint32_t>(*seen);
    now.card = (*seen & SCARD_STATE_PRESENT) != 0 && (*seen & SCARD_STATE_MUTE) == 0;
    return RwError::none;
}

RwError PcscSession::connect(const std::string& reader) {
    const auto connected = guarded(
        [handles = handles_, reader] {
            handles->end_card();
            const LONG rv = system::connect(handles->context, reader, SCARD_SHARE_SHARED,
                                            SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, handles->card,
                                            handles->protocol);
            handles->connected = rv == SCARD_S_SUCCESS;
            return static_cast<long>(rv);
        },
        kCallAllowance);
    if (!connected) {
        return overran("SCardConnect");
    }
    if (*connected != SCARD_S_SUCCESS) {
        return failed("SCardConnect", *connected);
    }
    // Another program's transaction on the reader holds this one back until it ends.
    const auto begun = guarded(
        [handles = handles_] {
            const LONG rv = SCardBeginTransaction(handles->card);
            handles->in_transaction = rv == SCARD_S_SUCCESS;
            return static_cast<long>(rv);
        },
        kCallAllowance);
    if (!begun) {
        return overran("SCardBeginTransaction");
    }
    if (*begun != SCARD_S_SUCCESS) {
        const RwError error = failed("SCardBeginTransaction", *begun);
        disconnect();
        return error;
    }
    return RwError::none;
}

RwError PcscSession::atr(Bytes& atr) {
    auto bytes = std::make_shared<Bytes>();
    const auto code = guarded(
        [handles = handles_, bytes] {
            const LONG rv = system::card_atr(handles->card, *bytes);
            return static_cast<long>(rv);
        },
        kCallAllowance);
    if (!code) {
        return overran("SCardStatus");
    }
    if (*code != SCARD_S_SUCCESS) {
        return failed("SCardStatus", *code);
    }
    atr = std::move(*bytes);
    return RwError::none;
}

void PcscSession::disconnect() {
    (void)guarded(
        [handles = handles_] {
            handles->end_card();
            return static_cast<long>(SCARD_S_SUCCESS);
        },
        kCallAllowance);
}

ApduReply PcscSession::transmit(ByteView command, std::chrono::microseconds card_time) {
    const auto limit = card_time + kCallAllowance;
    Bytes data;
    Bytes next(command.begin(), command.end());
    for (int round = 0; round <= kMaxGetResponses; ++round) {
        auto response = std::make_shared<Bytes>();
        const auto code = guarded(
            [handles = handles_, sent = next, response] {
                if (!handles->connected) {
                    return static_cast<long>(SCARD_E_INVALID_HANDLE);
                }
                const SCARD_IO_REQUEST* pci =
                    handles->protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
                // Room for any answer, extended APDUs included, so that a chatty reader is
                // never cut short.
                response->resize(system::kReceiveRoom);
                DWORD length = system::kReceiveRoom;
                const LONG rv =
                    SCardTransmit(handles->card, pci, sent.data(), static_cast<DWORD>(sent.size()),
                                  nullptr, response->data(), &length);
                response->resize(rv == SCARD_S_SUCCESS ? length : 0);
                return static_cast<long>(rv);
            },
            limit);
        if (!code) {
            return {overran("SCardTransmit"), {}};
        }
        if (*code != SCARD_S_SUCCESS) {
            return {failed("SCardTransmit", *code), {}};
        }
        const auto apdu = split_response(*response);
        if (!apdu || (apdu->sw >> 8) != kSwMoreData) {
            // Anything but "more data" (a broken answer too) goes to the dialect as it is.
            data.insert(data.end(), response->begin(), response->end());
            return {RwError::none, std::move(data)};
        }
        data.insert(data.end(), apdu->data.begin(), apdu->data.end());
        const Byte available = static_cast<Byte>(apdu->sw & 0xFF);
        next = {0xFF, 0xC0, 0x00, 0x00, available};  // GET RESPONSE
    }
    failure_ = "SCardTransmit: GET RESPONSE without end";
    return {RwError::malformed_response, {}};
}

}  // namespace felica::pcsc
