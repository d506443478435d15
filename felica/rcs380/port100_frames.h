// The frames between the host and an NFC Port-100 chip (Sony RC-S380): a pure codec without I/O.
//
//   command:  00 00 FF FF FF  LEN(LE16) LCS  D6 <code> <args…>     DCS 00
//   response: 00 00 FF FF FF  LEN(LE16) LCS  D7 <code+1> <data…>   DCS 00
//   ACK:      00 00 FF 00 FF 00   (from the chip: command accepted; from the host: abort)
//
// LEN counts the bytes from D6/D7 up to DCS; LCS makes LEN's bytes sum to 0 and DCS the
// counted bytes.
#pragma once

#include <array>
#include <string_view>

#include "felica/types.h"

namespace felica::rcs380 {

inline constexpr std::array<Byte, 6> kAck = {0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00};
inline constexpr Byte kCommandCode = 0xD6;
inline constexpr Byte kResponseCode = 0xD7;

// Command codes of the chip; the answer carries the code + 1.
enum class Command : Byte {
    in_set_rf = 0x00,
    in_set_protocol = 0x02,
    in_comm_rf = 0x04,
    switch_rf = 0x06,
    get_firmware_version = 0x20,
    set_command_type = 0x2A,
};

Bytes build_command(Command command, ByteView arguments);

bool is_ack(ByteView bytes);

// The byte that makes `bytes` sum to 0 modulo 256 (LCS over LEN, DCS over the counted bytes).
Byte frame_checksum(ByteView bytes);

// Why a response frame was refused.
enum class FrameFault {
    none,
    too_short,            // fewer bytes than the smallest frame
    bad_start,            // not 00 00 FF FF FF
    bad_length_checksum,  // LCS
    length_mismatch,      // LEN differs from the bytes received
    bad_data_checksum,    // DCS
    bad_postamble,        // last byte not 00
    not_a_response,       // first counted byte not D7
    wrong_response_code,  // not the command's code + 1
};

std::string_view to_string(FrameFault fault);

struct ResponseParse {
    FrameFault fault = FrameFault::none;
    Bytes data;  // what follows D7 <code+1>
};

// Checks a whole response frame to `command` and returns its data.
ResponseParse parse_response(ByteView frame, Command command);

}  // namespace felica::rcs380
