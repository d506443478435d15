// The messages between the program and its libnfc helper process. Input: a byte choosing the
// direction, then either a stream of bytes as one side reads it from its pipe (even), or a
// message to encode (odd): its type and fields.
#include <array>

#include "felica/libnfc/helper_protocol.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace felica;
using namespace felica::libnfc::protocol;

// Reads messages off the stream as a pipe's reader does. A complete message is the only way
// to read its bytes (it encodes back to them), and every shorter prefix of it waits for more.
void check_stream(ByteView stream) {
    while (!stream.empty()) {
        const Parsed parsed = parse_message(stream);
        if (parsed.status != Parsed::Status::complete) {
            FUZZ_CHECK(parsed.status == Parsed::Status::malformed ||
                       stream.size() < kHeaderSize + kMaxPayload);
            return;
        }
        FUZZ_CHECK(parsed.size >= kHeaderSize && parsed.size <= stream.size());
        FUZZ_CHECK(parsed.size <= kHeaderSize + kMaxPayload);
        const auto encoded = encode(parsed.message);
        FUZZ_CHECK(encoded &&
                   std::equal(encoded->begin(), encoded->end(), stream.begin(),
                              stream.begin() + parsed.size) &&
                   encoded->size() == parsed.size);
        for (const std::size_t cut :
             {std::size_t{0}, std::size_t{1}, kHeaderSize, parsed.size - 1}) {
            if (cut < parsed.size) {
                FUZZ_CHECK(parse_message(stream.first(cut)).status == Parsed::Status::incomplete);
            }
        }
        stream = stream.subspan(parsed.size);
    }
}

// A message from the fuzzer's bytes; encoded, it parses back to itself (texts cut to size).
void check_message(fuzz::FuzzInput& input) {
    const Byte kind = input.byte() % 10;
    const auto error = static_cast<RwError>(input.byte() % 21);
    const std::uint32_t timeout = std::uint32_t{input.byte()} << 16 | input.byte();
    const ByteView bytes = input.take((std::size_t{input.byte()} << 8) | input.byte());
    const std::string text(bytes.begin(), bytes.end());
    const Bytes frame(bytes.begin(), bytes.end());
    Message message;
    switch (kind) {
        case 0:
            message = OpenRequest{text.empty() ? std::nullopt : std::optional<std::string>(text)};
            break;
        case 1:
            message = PollRequest{timeout, frame};
            break;
        case 2:
            message = ExchangeRequest{timeout, frame};
            break;
        case 3:
            message = CloseRequest{};
            break;
        case 4:
            message = Opened{static_cast<int>(timeout & 0x1F), text};
            break;
        case 5:
            message = OpenFailed{error, text};
            break;
        case 6:
            message = TransferDone{error, error == RwError::none ? frame : Bytes{}, text};
            break;
        case 7:
            message = Closed{};
            break;
        case 8:
            message = ListRequest{};
            break;
        default: {
            // Devices whose connection strings and names are cut from the text.
            DevicesListed listed;
            for (std::size_t at = 0; at < text.size() && listed.devices.size() <= kMaxListedDevices;
                 at += 1 + (timeout & 0x3F)) {
                const std::string piece = text.substr(at, 1 + (timeout & 0x3F));
                listed.devices.push_back({piece, piece.substr(0, piece.size() / 2)});
            }
            message = listed;
            break;
        }
    }
    const auto encoded = encode(message);
    if (!encoded) {
        return;
    }
    const Parsed parsed = parse_message(*encoded);
    FUZZ_CHECK(parsed.status == Parsed::Status::complete && parsed.size == encoded->size());
    // Texts longer than a message carries arrive cut.
    std::visit(
        [](auto& m) {
            using T = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<T, Opened>) {
                m.name.resize(std::min(m.name.size(), kMaxText));
            } else if constexpr (std::is_same_v<T, OpenFailed>) {
                m.reason.resize(std::min(m.reason.size(), kMaxText));
            } else if constexpr (std::is_same_v<T, TransferDone>) {
                m.detail.resize(std::min(m.detail.size(), kMaxText));
            } else if constexpr (std::is_same_v<T, DevicesListed>) {
                for (ListedDevice& device : m.devices) {
                    device.name.resize(std::min(device.name.size(), kMaxText));
                }
            }
        },
        message);
    FUZZ_CHECK(parsed.message == message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    if (input.byte() % 2 == 0) {
        check_stream(input.rest());
    } else {
        check_message(input);
    }
    return 0;
}
