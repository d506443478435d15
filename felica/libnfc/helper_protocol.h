// The messages between the program and its libnfc helper process, and their bytes on the
// pipes. Pure: no I/O. Both sides parse what the other sends with parse_message, which
// refuses anything malformed or oversized.
//
// A message is a type byte, the payload's length (2 bytes, big-endian) and the payload.
// The program sends requests (open, poll, exchange, close, or list); the helper answers each
// with one reply (opened or open failed, a transfer's result, closed, the devices listed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "felica/errors.h"
#include "felica/types.h"

namespace felica::libnfc::protocol {

inline constexpr std::size_t kHeaderSize = 3;
// libnfc's connection strings hold at most 1023 characters (NFC_BUFSIZE_CONNSTRING less its
// NUL).
inline constexpr std::size_t kMaxConnstring = 1023;
// A FeliCa command frame: its LEN byte counts at most 255 bytes.
inline constexpr std::size_t kMaxCommandFrame = 255;
// The most a PN53x passes on of a card's answer (an extended frame's data).
inline constexpr std::size_t kMaxAnswer = 264;
// Names, reasons and details are diagnostics: longer ones are cut when encoded.
inline constexpr std::size_t kMaxText = 255;
// The most devices a list holds (libnfc's own tools ask for as many).
inline constexpr std::size_t kMaxListedDevices = 16;
// No message's payload is larger (a list of the most devices with the longest texts).
inline constexpr std::size_t kMaxPayload =
    1 + kMaxListedDevices * (2 + kMaxConnstring + 1 + kMaxText);

// Requests, program to helper.
struct OpenRequest {
    std::optional<std::string> connstring;  // nothing: libnfc's default device
    bool operator==(const OpenRequest&) const = default;
};
struct PollRequest {
    std::uint32_t timeout_us = 0;
    Bytes frame;  // the polling frame, LEN included
    bool operator==(const PollRequest&) const = default;
};
struct ExchangeRequest {
    std::uint32_t timeout_us = 0;
    Bytes frame;  // the command frame, LEN included
    bool operator==(const ExchangeRequest&) const = default;
};
struct CloseRequest {
    bool operator==(const CloseRequest&) const = default;
};
// Asks for the devices libnfc can see instead of opening one; the helper ends after the reply.
struct ListRequest {
    bool operator==(const ListRequest&) const = default;
};

// Replies, helper to program.
struct Opened {
    int max_blocks = 0;  // 1 to 15
    std::string name;    // the reader's name for trace lines
    bool operator==(const Opened&) const = default;
};
struct OpenFailed {
    RwError error = RwError::no_reader;
    std::string reason;
    bool operator==(const OpenFailed&) const = default;
};
struct TransferDone {
    RwError error = RwError::none;
    Bytes response;      // the card's answer when error is none, else empty
    std::string detail;  // what libnfc said of a failure
    bool operator==(const TransferDone&) const = default;
};
struct Closed {
    bool operator==(const Closed&) const = default;
};
struct ListedDevice {
    std::string connstring;  // never empty
    std::string name;        // empty when the device could not be opened to ask
    bool operator==(const ListedDevice&) const = default;
};
struct DevicesListed {
    std::vector<ListedDevice> devices;  // at most kMaxListedDevices
    bool operator==(const DevicesListed&) const = default;
};

using Message = std::variant<OpenRequest, PollRequest, ExchangeRequest, CloseRequest, Opened,
                             OpenFailed, TransferDone, Closed, ListRequest, DevicesListed>;

// The message's bytes; nothing when a frame or connection string is out of bounds or holds
// what the other side would refuse. Texts longer than kMaxText are cut.
std::optional<Bytes> encode(const Message& message);

struct Parsed {
    enum class Status {
        complete,    // `message` took the first `size` bytes
        incomplete,  // a valid beginning: more bytes are needed
        malformed,   // not a message: the peer is broken
    };
    Status status = Status::incomplete;
    Message message;
    std::size_t size = 0;
};

// Parses the message at the start of `bytes`. A header that announces an unknown type or an
// oversized payload is malformed at once, without waiting for the payload.
Parsed parse_message(ByteView bytes);

}  // namespace felica::libnfc::protocol
