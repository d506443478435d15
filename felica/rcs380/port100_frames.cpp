#include "felica/rcs380/port100_frames.h"

#include <algorithm>
#include <numeric>

namespace felica::rcs380 {
namespace {

constexpr std::array<Byte, 5> kStart = {0x00, 0x00, 0xFF, 0xFF, 0xFF};
constexpr std::size_t kHeader = 8;   // start code, LEN, LCS
constexpr std::size_t kTrailer = 2;  // DCS, postamble

}  // namespace

Byte frame_checksum(ByteView bytes) {
    const unsigned sum = std::accumulate(bytes.begin(), bytes.end(), 0u);
    return static_cast<Byte>(0x100 - (sum & 0xFF));
}

Bytes build_command(Command command, ByteView arguments) {
    const std::size_t length = 2 + arguments.size();
    Bytes frame;
    frame.reserve(kHeader + length + kTrailer);
    frame.insert(frame.end(), kStart.begin(), kStart.end());
    const Byte length_bytes[] = {static_cast<Byte>(length & 0xFF), static_cast<Byte>(length >> 8)};
    frame.insert(frame.end(), std::begin(length_bytes), std::end(length_bytes));
    frame.push_back(frame_checksum(length_bytes));
    const std::size_t counted = frame.size();
    frame.push_back(kCommandCode);
    frame.push_back(static_cast<Byte>(command));
    frame.insert(frame.end(), arguments.begin(), arguments.end());
    frame.push_back(frame_checksum(ByteView(frame).subspan(counted)));
    frame.push_back(0x00);
    return frame;
}

bool is_ack(ByteView bytes) {
    return std::ranges::equal(bytes, kAck);
}

std::string_view to_string(FrameFault fault) {
    switch (fault) {
        case FrameFault::none:
            return "no fault";
        case FrameFault::too_short:
            return "frame too short";
        case FrameFault::bad_start:
            return "bad start code";
        case FrameFault::bad_length_checksum:
            return "bad length checksum";
        case FrameFault::length_mismatch:
            return "length differs from the bytes received";
        case FrameFault::bad_data_checksum:
            return "bad data checksum";
        case FrameFault::bad_postamble:
            return "bad postamble";
        case FrameFault::not_a_response:
            return "not a response frame";
        case FrameFault::wrong_response_code:
            return "answer to another command";
    }
    return "unknown fault";
}

ResponseParse parse_response(ByteView frame, Command command) {
    if (frame.size() < kHeader + 2 + kTrailer) {
        return {FrameFault::too_short, {}};
    }
    if (!std::ranges::equal(frame.first(kStart.size()), kStart)) {
        return {FrameFault::bad_start, {}};
    }
    if (frame_checksum(frame.subspan(5, 3)) != 0) {
        return {FrameFault::bad_length_checksum, {}};
    }
    const std::size_t length = frame[5] | (frame[6] << 8);
    if (frame.size() != kHeader + length + kTrailer || length < 2) {
        return {FrameFault::length_mismatch, {}};
    }
    const ByteView counted = frame.subspan(kHeader, length);
    if (frame_checksum(frame.subspan(kHeader, length + 1)) != 0) {
        return {FrameFault::bad_data_checksum, {}};
    }
    if (frame.back() != 0x00) {
        return {FrameFault::bad_postamble, {}};
    }
    if (counted[0] != kResponseCode) {
        return {FrameFault::not_a_response, {}};
    }
    if (counted[1] != static_cast<Byte>(static_cast<Byte>(command) + 1)) {
        return {FrameFault::wrong_response_code, {}};
    }
    return {FrameFault::none, Bytes(counted.begin() + 2, counted.end())};
}

}  // namespace felica::rcs380
