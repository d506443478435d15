#include "felica/libnfc/helper_protocol.h"

#include <algorithm>

namespace felica::libnfc::protocol {
namespace {

enum Type : Byte {
    kOpenRequest = 0x01,
    kPollRequest = 0x02,
    kExchangeRequest = 0x03,
    kCloseRequest = 0x04,
    kListRequest = 0x05,
    kOpened = 0x81,
    kOpenFailed = 0x82,
    kTransferDone = 0x83,
    kClosed = 0x84,
    kDevicesListed = 0x85,
};

// The largest payload each type may carry.
std::optional<std::size_t> max_payload(Byte type) {
    switch (type) {
        case kOpenRequest:
            return 1 + kMaxConnstring;
        case kPollRequest:
        case kExchangeRequest:
            return 4 + kMaxCommandFrame;
        case kCloseRequest:
        case kClosed:
        case kListRequest:
            return 0;
        case kDevicesListed:
            return kMaxPayload;
        case kOpened:
        case kOpenFailed:
            return 1 + kMaxText;
        case kTransferDone:
            return 2 + kMaxText + kMaxAnswer;
        default:
            return std::nullopt;
    }
}

// The error types a helper reports: those of libnfc's errors, of opening, and of polling.
std::optional<RwError> helper_error(Byte value) {
    const auto error = static_cast<RwError>(value);
    switch (error) {
        case RwError::none:
        case RwError::invalid_argument:
        case RwError::no_reader:
        case RwError::reader_setting:
        case RwError::timeout:
        case RwError::card_removed:
        case RwError::io_error:
        case RwError::malformed_response:
        case RwError::reader_timeout:
            return error;
        default:
            return std::nullopt;
    }
}

bool has_nul(std::string_view text) {
    return text.find('\0') != std::string_view::npos;
}

std::string cut(const std::string& text) {
    return text.substr(0, kMaxText);
}

void put_u32(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<Byte>(value >> shift));
    }
}

void put_text(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

std::optional<Bytes> frame_request(Type type, std::uint32_t timeout_us, const Bytes& frame) {
    if (frame.empty() || frame.size() > kMaxCommandFrame) {
        return std::nullopt;
    }
    Bytes payload{type};
    put_u32(payload, timeout_us);
    payload.insert(payload.end(), frame.begin(), frame.end());
    return payload;
}

// Each encoder returns the type byte followed by the payload.
std::optional<Bytes> body(const OpenRequest& m) {
    if (m.connstring && (m.connstring->empty() || m.connstring->size() > kMaxConnstring ||
                         has_nul(*m.connstring))) {
        return std::nullopt;
    }
    Bytes out{kOpenRequest, m.connstring ? Byte{1} : Byte{0}};
    if (m.connstring) {
        put_text(out, *m.connstring);
    }
    return out;
}
std::optional<Bytes> body(const PollRequest& m) {
    return frame_request(kPollRequest, m.timeout_us, m.frame);
}
std::optional<Bytes> body(const ExchangeRequest& m) {
    return frame_request(kExchangeRequest, m.timeout_us, m.frame);
}
std::optional<Bytes> body(const CloseRequest&) {
    return Bytes{kCloseRequest};
}
std::optional<Bytes> body(const Opened& m) {
    if (m.max_blocks < 1 || m.max_blocks > kMaxBlocksPerFrame) {
        return std::nullopt;
    }
    Bytes out{kOpened, static_cast<Byte>(m.max_blocks)};
    put_text(out, cut(m.name));
    return out;
}
std::optional<Bytes> body(const OpenFailed& m) {
    if (m.error == RwError::none || !helper_error(static_cast<Byte>(m.error))) {
        return std::nullopt;
    }
    Bytes out{kOpenFailed, static_cast<Byte>(m.error)};
    put_text(out, cut(m.reason));
    return out;
}
std::optional<Bytes> body(const TransferDone& m) {
    const std::string detail = cut(m.detail);
    if (!helper_error(static_cast<Byte>(m.error)) || m.response.size() > kMaxAnswer ||
        (m.error != RwError::none && !m.response.empty())) {
        return std::nullopt;
    }
    Bytes out{kTransferDone, static_cast<Byte>(m.error), static_cast<Byte>(detail.size())};
    put_text(out, detail);
    out.insert(out.end(), m.response.begin(), m.response.end());
    return out;
}
std::optional<Bytes> body(const Closed&) {
    return Bytes{kClosed};
}
std::optional<Bytes> body(const ListRequest&) {
    return Bytes{kListRequest};
}
std::optional<Bytes> body(const DevicesListed& m) {
    if (m.devices.size() > kMaxListedDevices) {
        return std::nullopt;
    }
    Bytes out{kDevicesListed, static_cast<Byte>(m.devices.size())};
    for (const ListedDevice& device : m.devices) {
        const std::string& connstring = device.connstring;
        if (connstring.empty() || connstring.size() > kMaxConnstring || has_nul(connstring)) {
            return std::nullopt;
        }
        const std::string name = cut(device.name);
        out.push_back(static_cast<Byte>(connstring.size() >> 8));
        out.push_back(static_cast<Byte>(connstring.size() & 0xFF));
        put_text(out, connstring);
        out.push_back(static_cast<Byte>(name.size()));
        put_text(out, name);
    }
    return out;
}

std::string text_of(ByteView bytes) {
    return {bytes.begin(), bytes.end()};
}

std::uint32_t u32_at(ByteView bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

// A list of devices: their count, then each device's connection string (2-byte length) and
// name (1-byte length).
std::optional<Message> decode_devices(ByteView payload) {
    if (payload.empty() || payload[0] > kMaxListedDevices) {
        return std::nullopt;
    }
    DevicesListed listed;
    std::size_t at = 1;
    for (int i = 0; i < payload[0]; ++i) {
        if (payload.size() < at + 2) {
            return std::nullopt;
        }
        const std::size_t length = (std::size_t{payload[at]} << 8) | payload[at + 1];
        at += 2;
        if (length == 0 || length > kMaxConnstring || payload.size() < at + length + 1) {
            return std::nullopt;
        }
        std::string connstring = text_of(payload.subspan(at, length));
        at += length;
        const std::size_t name_length = payload[at];
        at += 1;
        if (has_nul(connstring) || name_length > kMaxText || payload.size() < at + name_length) {
            return std::nullopt;
        }
        listed.devices.push_back(
            {std::move(connstring), text_of(payload.subspan(at, name_length))});
        at += name_length;
    }
    if (at != payload.size()) {
        return std::nullopt;
    }
    return listed;
}

// The message a payload of `type` holds, or nothing when it breaks the type's rules.
std::optional<Message> decode(Byte type, ByteView payload) {
    switch (type) {
        case kOpenRequest: {
            if (payload.empty() || payload[0] > 1) {
                return std::nullopt;
            }
            const std::string connstring = text_of(payload.subspan(1));
            if (payload[0] == 0) {
                return connstring.empty() ? std::optional<Message>(OpenRequest{}) : std::nullopt;
            }
            if (connstring.empty() || has_nul(connstring)) {
                return std::nullopt;
            }
            return OpenRequest{connstring};
        }
        case kPollRequest:
        case kExchangeRequest: {
            if (payload.size() < 5) {
                return std::nullopt;
            }
            const std::uint32_t timeout_us = u32_at(payload);
            Bytes frame(payload.begin() + 4, payload.end());
            if (type == kPollRequest) {
                return PollRequest{timeout_us, std::move(frame)};
            }
            return ExchangeRequest{timeout_us, std::move(frame)};
        }
        case kCloseRequest:
            return CloseRequest{};
        case kOpened:
            if (payload.empty() || payload[0] < 1 || payload[0] > kMaxBlocksPerFrame) {
                return std::nullopt;
            }
            return Opened{payload[0], text_of(payload.subspan(1))};
        case kOpenFailed: {
            const auto error = payload.empty() ? std::nullopt : helper_error(payload[0]);
            if (!error || *error == RwError::none) {
                return std::nullopt;
            }
            return OpenFailed{*error, text_of(payload.subspan(1))};
        }
        case kTransferDone: {
            if (payload.size() < 2 || payload[1] > kMaxText ||
                payload.size() < std::size_t{2} + payload[1]) {
                return std::nullopt;
            }
            const auto error = helper_error(payload[0]);
            const ByteView detail = payload.subspan(2, payload[1]);
            const ByteView response = payload.subspan(2 + std::size_t{payload[1]});
            if (!error || response.size() > kMaxAnswer ||
                (*error != RwError::none && !response.empty())) {
                return std::nullopt;
            }
            return TransferDone{*error, Bytes(response.begin(), response.end()), text_of(detail)};
        }
        case kClosed:
            return Closed{};
        case kListRequest:
            return ListRequest{};
        case kDevicesListed:
            return decode_devices(payload);
        default:
            return std::nullopt;
    }
}

}  // namespace

std::optional<Bytes> encode(const Message& message) {
    const std::optional<Bytes> typed = std::visit([](const auto& m) { return body(m); }, message);
    if (!typed) {
        return std::nullopt;
    }
    const std::size_t payload = typed->size() - 1;
    Bytes out{(*typed)[0], static_cast<Byte>(payload >> 8), static_cast<Byte>(payload & 0xFF)};
    out.insert(out.end(), typed->begin() + 1, typed->end());
    return out;
}

Parsed parse_message(ByteView bytes) {
    Parsed result;
    if (bytes.empty()) {
        return result;
    }
    const std::optional<std::size_t> limit = max_payload(bytes[0]);
    if (!limit) {
        result.status = Parsed::Status::malformed;
        return result;
    }
    if (bytes.size() < kHeaderSize) {
        return result;
    }
    const std::size_t length = (std::size_t{bytes[1]} << 8) | bytes[2];
    if (length > *limit) {
        result.status = Parsed::Status::malformed;
        return result;
    }
    if (bytes.size() < kHeaderSize + length) {
        return result;
    }
    std::optional<Message> message = decode(bytes[0], bytes.subspan(kHeaderSize, length));
    if (!message) {
        result.status = Parsed::Status::malformed;
        return result;
    }
    result.status = Parsed::Status::complete;
    result.message = std::move(*message);
    result.size = kHeaderSize + length;
    return result;
}

}  // namespace felica::libnfc::protocol
