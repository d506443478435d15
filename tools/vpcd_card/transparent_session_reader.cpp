#include <algorithm>

#include "tools/vpcd_card/virtual_readers.h"

namespace vpcd_card {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::microseconds kDefaultTimer = 100ms;  // no timer object in the command
constexpr std::chrono::microseconds kLongestTimer = 5s;
constexpr std::size_t kResponseRoom = 256;

ReaderReply status(Byte object, Byte sw1, Byte sw2) {
    return {{0xC0, 0x03, object, sw1, sw2, 0x90, 0x00}, {}};
}

ReaderReply success() {
    return status(0x00, 0x90, 0x00);
}

// The data field of FF C2 00 <function> Lc <data> [Le]; nothing when Lc does not match.
std::optional<ByteView> data_field(ByteView command) {
    const std::size_t length = command[4];
    if (command.size() != 5 + length && command.size() != 6 + length) {
        return std::nullopt;
    }
    return command.subspan(5, length);
}

bool equals(ByteView bytes, std::initializer_list<Byte> expected) {
    return std::equal(bytes.begin(), bytes.end(), expected.begin(), expected.end());
}

void append_length(Bytes& out, std::size_t length) {
    if (length >= 0x80) {
        out.push_back(0x81);
    }
    out.push_back(static_cast<Byte>(length));
}

}  // namespace

ReaderReply TransparentSessionReader::respond(ByteView command) {
    if (command.size() < 5 || command[0] != 0xFF || command[1] != 0xC2 || command[2] != 0x00) {
        return refuse();
    }
    const auto data = data_field(command);
    if (!data) {
        return status(0x00, 0x67, 0x00);  // wrong length
    }
    switch (command[3]) {
        case 0x00:  // manage session
            if (equals(*data, {0x81, 0x00})) {
                session_ = true;
                felica_ = false;
                return success();
            }
            if (equals(*data, {0x82, 0x00})) {
                session_ = felica_ = false;
                return success();
            }
            return status(0x01, 0x6A, 0x81);
        case 0x01:  // transparent exchange
            return exchange(*data);
        case 0x02:  // switch protocol
            if (!session_) {
                return status(0x00, 0x69, 0x85);  // conditions of use not satisfied
            }
            if (equals(*data, {0x8F, 0x02, 0x03, 0x00})) {
                felica_ = true;
                return success();
            }
            return status(0x01, 0x6A, 0x81);
        default:
            return refuse();
    }
}

ReaderReply TransparentSessionReader::exchange(ByteView objects) {
    if (!session_ || !felica_) {
        return status(0x00, 0x69, 0x85);
    }
    std::chrono::microseconds timer = kDefaultTimer;
    std::optional<ByteView> frame;
    // Data objects: 5F 46 04 <timer, µs, LE32> and 95 <length> <frame>, lengths of 1 or 2 bytes.
    std::size_t at = 0;
    for (Byte object = 1; at < objects.size(); ++object) {
        std::uint32_t tag = objects[at++];
        if (tag == 0x5F && at < objects.size()) {
            tag = (tag << 8) | objects[at++];
        }
        if (at >= objects.size()) {
            return status(object, 0x67, 0x00);
        }
        std::size_t length = objects[at++];
        if (length == 0x81 && at < objects.size()) {
            length = objects[at++];
        } else if (length >= 0x80) {
            return status(object, 0x67, 0x00);
        }
        if (objects.size() - at < length) {
            return status(object, 0x67, 0x00);
        }
        const ByteView value = objects.subspan(at, length);
        at += length;
        if (tag == 0x5F46 && length == 4) {
            timer = std::chrono::microseconds{value[0] | (value[1] << 8) | (value[2] << 16) |
                                              (static_cast<std::uint32_t>(value[3]) << 24)};
        } else if (tag == 0x95) {
            frame = value;
        } else {
            return status(object, 0x6A, 0x81);
        }
    }
    if (!frame) {
        return status(0x00, 0x6A, 0x81);
    }
    const std::optional<Bytes> answer = ask_card(*frame);
    if (!answer) {
        ReaderReply reply = status(0x01, 0x64, 0x01);  // the card did not answer
        reply.wait = std::min(timer, kLongestTimer);
        return reply;
    }
    Bytes data = {0xC0, 0x03, 0x00, 0x90, 0x00, 0x92, 0x01, 0x00, 0x96, 0x02, 0x00, 0x00, 0x97};
    append_length(data, answer->size());
    data.insert(data.end(), answer->begin(), answer->end());
    if (data.size() > kResponseRoom) {
        return status(0x01, 0x6F, 0x00);  // more than a short response holds
    }
    data.insert(data.end(), {0x90, 0x00});
    return {std::move(data), {}};
}

}  // namespace vpcd_card
