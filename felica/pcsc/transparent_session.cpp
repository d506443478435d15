#include "felica/pcsc/transparent_session.h"

#include <algorithm>

#include "felica/pcsc/apdu.h"

namespace felica::pcsc::transparent {
namespace {

constexpr Byte kIns = 0xC2;
constexpr Byte kManageSession = 0x00;
constexpr Byte kTransparentExchange = 0x01;
constexpr Byte kSwitchProtocol = 0x02;

constexpr std::uint32_t kGenericErrorStatus = 0xC0;
constexpr std::uint32_t kTimer = 0x5F46;
constexpr std::uint32_t kTransceive = 0x95;
constexpr std::uint32_t kResponse = 0x97;

// Bytes ahead of the frame in an exchange answer: C0 03 00 90 00, 92 01 00, 96 02 00 00,
// then 97 with a length of up to 3 bytes.
constexpr std::size_t kExchangeAnswerOverhead = 5 + 3 + 4 + 1 + 3;

// The generic error status an answer reports, if it holds one.
struct ErrorStatus {
    Byte object = 0;
    std::uint16_t sw = 0;
};

std::optional<ErrorStatus> error_status(const std::vector<DataObject>& objects) {
    const DataObject* status = find_data_object(objects, kGenericErrorStatus);
    if (!status || status->value.size() != 3) {
        return std::nullopt;
    }
    return ErrorStatus{status->value[0],
                       static_cast<std::uint16_t>((status->value[1] << 8) | status->value[2])};
}

// The reader's error in the generic error status: the card did not answer, or something the
// reader reports about itself.
RwError error_of(const ErrorStatus& status) {
    constexpr std::uint16_t kNoResponse = 0x6401;
    return status.sw == kNoResponse ? RwError::timeout : RwError::io_error;
}

// An answer whose status objects say failure may carry 90 00, a plain warning or error word,
// or the same word as its error status; any other word means it is not an answer of this
// dialect.
bool failure_status_word_fits(std::uint16_t sw, const ErrorStatus& status) {
    return sw == kSwSuccess || sw == 0x6282 || sw == 0x6300 || sw == status.sw;
}

}  // namespace

Bytes start_session_command() {
    const Byte data[] = {0x81, 0x00};
    return fixed_reader_command(kIns, 0x00, kManageSession, data, true);
}

Bytes switch_to_felica_command() {
    const Byte data[] = {0x8F, 0x02, 0x03, 0x00};
    return fixed_reader_command(kIns, 0x00, kSwitchProtocol, data, true);
}

Bytes end_session_command() {
    const Byte data[] = {0x82, 0x00};
    return fixed_reader_command(kIns, 0x00, kManageSession, data, true);
}

std::optional<Bytes> exchange_command(ByteView frame, std::chrono::microseconds timer) {
    const auto us = static_cast<std::uint32_t>(
        std::clamp<std::chrono::microseconds::rep>(timer.count(), 0, 0xFFFFFFFF));
    Bytes data{0x5F,
               0x46,
               0x04,
               static_cast<Byte>(us),
               static_cast<Byte>(us >> 8),
               static_cast<Byte>(us >> 16),
               static_cast<Byte>(us >> 24),
               0x95};
    append_ber_length(data, frame.size());
    data.insert(data.end(), frame.begin(), frame.end());
    return reader_command(kIns, 0x00, kTransparentExchange, data, true);
}

RwError parse_control_response(ByteView response) {
    const auto apdu = split_response(response);
    if (!apdu) {
        return RwError::malformed_response;
    }
    const auto objects = parse_data_objects(apdu->data);
    if (!objects) {
        return RwError::malformed_response;
    }
    const auto status = error_status(*objects);
    if (!status) {
        return RwError::malformed_response;
    }
    if (status->sw != kSwSuccess) {
        return failure_status_word_fits(apdu->sw, *status) ? error_of(*status)
                                                           : RwError::malformed_response;
    }
    return apdu->sw == kSwSuccess ? RwError::none : RwError::malformed_response;
}

Transfer parse_exchange_response(ByteView response) {
    const auto apdu = split_response(response);
    if (!apdu) {
        return {RwError::malformed_response, {}};
    }
    const auto objects = parse_data_objects(apdu->data);
    if (!objects) {
        return {RwError::malformed_response, {}};
    }
    const auto status = error_status(*objects);
    if (!status) {
        return {RwError::malformed_response, {}};
    }
    if (status->sw != kSwSuccess) {
        return {failure_status_word_fits(apdu->sw, *status) ? error_of(*status)
                                                            : RwError::malformed_response,
                {}};
    }
    const DataObject* frame = find_data_object(*objects, kResponse);
    if (apdu->sw != kSwSuccess || !frame) {
        return {RwError::malformed_response, {}};
    }
    return {RwError::none, Bytes(frame->value.begin(), frame->value.end())};
}

int max_blocks_per_read() {
    return blocks_fitting(kShortResponseRoom - kExchangeAnswerOverhead);
}

namespace {

class TransparentSession final : public Dialect {
  public:
    DialectKind kind() const override { return DialectKind::transparent_session; }

    DialectStart start(ApduChannel& channel, DialectChoice) override {
        for (const Bytes& command : {start_session_command(), switch_to_felica_command()}) {
            const ApduReply reply = channel.transmit(command, {});
            if (!reply.ok()) {
                return {DialectStart::Status::failed, reply.error};
            }
            if (parse_control_response(reply.response) != RwError::none) {
                return {DialectStart::Status::unsupported, RwError::none};
            }
        }
        return {};
    }

    Transfer poll(ApduChannel& channel, ByteView polling_frame,
                  std::chrono::microseconds timeout) override {
        return exchange(channel, polling_frame, timeout);
    }

    Transfer exchange(ApduChannel& channel, ByteView frame,
                      std::chrono::microseconds timeout) override {
        const std::optional<Bytes> command = exchange_command(frame, timeout);
        if (!command) {
            return {RwError::invalid_argument, {}};
        }
        const ApduReply reply = channel.transmit(*command, timeout);
        if (!reply.ok()) {
            return {reply.error, {}};
        }
        return parse_exchange_response(reply.response);
    }

    void end(ApduChannel& channel) override { (void)channel.transmit(end_session_command(), {}); }
};

}  // namespace

std::unique_ptr<Dialect> make_dialect() {
    return std::make_unique<TransparentSession>();
}

}  // namespace felica::pcsc::transparent
