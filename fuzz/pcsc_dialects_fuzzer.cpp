// The PC/SC reader dialects against a reader that answers every command APDU with the
// fuzzer's bytes: the dialect is chosen and started as the PC/SC backend does it (reader name,
// ATR, then probing), then polls, exchanges and ends.
// Input: reader name and ATR (each a length byte and its bytes), the number of exchanges, a
// timeout byte, then one record per command APDU: a length byte and the answer (FB: a long
// answer whose length is 251 + the next byte; FC…FF: the channel fails).
#include <algorithm>
#include <array>
#include <chrono>

#include "felica/frames.h"
#include "felica/pcsc/apdu.h"
#include "felica/pcsc/dialect_choice.h"
#include "felica/pcsc/pn532_direct.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace felica;
using namespace felica::pcsc;
using std::chrono::microseconds;

constexpr std::array kChannelErrors = {RwError::io_error, RwError::timeout, RwError::card_removed,
                                       RwError::reader_timeout};

class FuzzedReader final : public ApduChannel {
  public:
    explicit FuzzedReader(fuzz::FuzzInput& input) : input_(input) {}

    ApduReply transmit(ByteView command, microseconds card_time) override {
        check_command(command);
        const Byte head = input_.byte();
        if (head >= 0xFC) {
            last_ = {kChannelErrors[head - 0xFC], {}};
        } else {
            const std::size_t length = head == 0xFB ? 251u + input_.byte() : head;
            const ByteView answer = input_.take(length);
            last_ = {RwError::none, Bytes(answer.begin(), answer.end())};
        }
        note_rf_timeout(command, card_time);
        return last_;
    }

    const ApduReply& last() const { return last_; }

  private:
    // Every command is the reader's own: FF INS P1 P2 Lc data, and at most an Le byte.
    static void check_command(ByteView command) {
        FUZZ_CHECK(command.size() >= 5 && command[0] == 0xFF);
        FUZZ_CHECK(command.size() == 5u + command[4] || command.size() == 6u + command[4]);
    }

    // A PN532 exchange must run with the chip's timeout set, by an answered RFConfiguration,
    // to what the exchange needs.
    void note_rf_timeout(ByteView command, microseconds card_time) {
        const ByteView data = command.subspan(5);
        if (data.size() >= 6 && data[0] == 0xD4 && data[1] == 0x32 && data[2] == 0x02) {
            if (last_.ok() && pn532::is_rf_configuration_response(last_.response)) {
                rf_timeout_code_ = data[5];
            }
        } else if (data.size() >= 2 && data[0] == 0xD4 && data[1] == 0x42) {
            FUZZ_CHECK(rf_timeout_code_ == pn532::rf_timeout_code(card_time));
        }
    }

    fuzz::FuzzInput& input_;
    ApduReply last_;
    int rf_timeout_code_ = 0;
};

const Idm kIdm{0x01, 0x2E, 0x4C, 0xD3, 0xA1, 0xB2, 0xC3, 0xD4};

// A transfer passes a channel failure on as it is. A dialect that carries frames takes the
// card's frame out of the reader's answer; the storage-card dialect builds it from the IDm or
// the block GET DATA or READ BINARY brought.
void check_transfer(const Transfer& transfer, const FuzzedReader& reader, DialectKind kind,
                    bool polling) {
    const ApduReply& last = reader.last();
    if (!last.ok()) {
        FUZZ_CHECK(transfer.error == last.error);
    }
    if (!transfer.ok()) {
        FUZZ_CHECK(transfer.response.empty() && transfer.error != RwError::none);
        return;
    }
    FUZZ_CHECK(last.ok());
    const Bytes& frame = transfer.response;
    if (kind != DialectKind::storage_card) {
        FUZZ_CHECK(frame.empty() || std::search(last.response.begin(), last.response.end(),
                                                frame.begin(), frame.end()) != last.response.end());
        return;
    }
    const ByteView answer = last.response;
    if (polling) {
        const PollingParse parsed = parse_polling_response(frame, RequestCode::none, kSystemCode);
        FUZZ_CHECK(
            parsed.error == FrameError::none && answer.size() == 10 &&
            std::equal(parsed.response.idm.begin(), parsed.response.idm.end(), answer.begin()));
        return;
    }
    const ReadParse parsed = parse_read_response(frame, kIdm, 1);
    FUZZ_CHECK(parsed.error == FrameError::none ||
               (parsed.error == FrameError::status_error && parsed.status_flag_1 == 0xFF));
    FUZZ_CHECK(parsed.error != FrameError::none ||
               (answer.size() == 18 &&
                std::equal(parsed.block_data.begin(), parsed.block_data.end(), answer.begin())));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const ByteView name_bytes = input.counted();
    const std::string name(name_bytes.begin(), name_bytes.end());
    const ByteView atr = input.counted();
    const int exchanges = input.byte() % 4;
    const microseconds timeout{4'000 * (input.byte() + 1)};
    FuzzedReader reader(input);

    // Every dialect is a candidate, once.
    const std::vector<DialectKind> candidates = dialect_candidates(name, atr);
    FUZZ_CHECK(candidates.size() == 4);
    for (const DialectKind kind : {DialectKind::transparent_session, DialectKind::pn532,
                                   DialectKind::direct, DialectKind::storage_card}) {
        FUZZ_CHECK(std::count(candidates.begin(), candidates.end(), kind) == 1);
    }

    StartedDialect started = start_dialect(reader, name, atr);
    if (!started.dialect) {
        FUZZ_CHECK(started.error != RwError::none);
        return 0;
    }
    Dialect& dialect = *started.dialect;
    // The dialect carries the blocks the reader promised before its card was seen.
    const int promised = max_blocks_for_reader(name);
    FUZZ_CHECK(promised >= 1 && promised <= max_blocks_per_read(dialect.kind()));

    const Bytes polling = build_polling(kSystemCode, RequestCode::none, 0);
    check_transfer(dialect.poll(reader, polling, timeout), reader, dialect.kind(), true);
    const Byte service[] = {0x0F, 0x09};
    const Byte block[] = {0x80, 0x00};
    const Bytes read = build_read_without_encryption(kIdm, service, block, 1);
    for (int i = 0; i < exchanges; ++i) {
        // Each exchange asks for a little more time, so that the PN532's timeout changes.
        check_transfer(dialect.exchange(reader, read, timeout * (i + 1)), reader, dialect.kind(),
                       false);
    }
    dialect.end(reader);
    return 0;
}
