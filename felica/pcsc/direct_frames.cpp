#include "felica/pcsc/direct_frames.h"

#include "felica/frames.h"
#include "felica/pcsc/apdu.h"
#include "felica/timeouts.h"

namespace felica::pcsc::direct {
namespace {

constexpr std::uint16_t kSwNoAnswer = 0x6300;
constexpr std::uint16_t kAnySystem = 0xFFFF;

}  // namespace

std::optional<Bytes> exchange_command(ByteView frame) {
    return reader_command(0x00, 0x00, 0x00, frame);
}

Transfer parse_exchange_response(ByteView response) {
    const auto apdu = split_response(response);
    if (!apdu) {
        return {RwError::malformed_response, {}};
    }
    if (apdu->sw == kSwNoAnswer && apdu->data.empty()) {
        return {RwError::timeout, {}};
    }
    if (apdu->sw != kSwSuccess) {
        return {RwError::malformed_response, {}};
    }
    return {RwError::none, Bytes(apdu->data.begin(), apdu->data.end())};
}

int max_blocks_per_read() {
    return blocks_fitting(kShortResponseRoom);
}

namespace {

class DirectFrames final : public Dialect {
  public:
    DialectKind kind() const override { return DialectKind::direct; }

    // A reader named as one of this dialect's is taken at its word. Any other is asked to
    // poll for a card of any system with a bare frame: a reader that passes frames answers
    // with the card's frame or 63 00, one that takes none refuses the command.
    DialectStart start(ApduChannel& channel, DialectChoice choice) override {
        if (choice == DialectChoice::named) {
            return {};
        }
        const Bytes probe = build_polling(kAnySystem, RequestCode::none, 0);
        const ApduReply reply =
            channel.transmit(*exchange_command(probe), polling_response_time(1));
        if (!reply.ok()) {
            return {DialectStart::Status::failed, reply.error};
        }
        if (parse_exchange_response(reply.response).error == RwError::malformed_response) {
            return {DialectStart::Status::unsupported, RwError::none};
        }
        return {};
    }

    Transfer poll(ApduChannel& channel, ByteView polling_frame,
                  std::chrono::microseconds timeout) override {
        return exchange(channel, polling_frame, timeout);
    }

    Transfer exchange(ApduChannel& channel, ByteView frame,
                      std::chrono::microseconds timeout) override {
        const std::optional<Bytes> command = exchange_command(frame);
        if (!command) {
            return {RwError::invalid_argument, {}};
        }
        const ApduReply reply = channel.transmit(*command, timeout);
        if (!reply.ok()) {
            return {reply.error, {}};
        }
        return parse_exchange_response(reply.response);
    }

    void end(ApduChannel&) override {}
};

}  // namespace

std::unique_ptr<Dialect> make_dialect() {
    return std::make_unique<DirectFrames>();
}

}  // namespace felica::pcsc::direct
