#include "felica/pcsc/direct_frames.h"

#include "felica/pcsc/apdu.h"

namespace felica::pcsc::direct {
namespace {

constexpr std::uint16_t kSwNoAnswer = 0x6300;

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

    // Nothing tells this dialect apart: it is the one left when the others are refused.
    DialectStart start(ApduChannel&) override { return {}; }

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
