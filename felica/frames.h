// FeliCa command frames and their responses: a pure codec without I/O.
// Frames carry their LEN byte (which counts itself); a reader adds preamble, sync and CRC.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "felica/types.h"

namespace felica {

enum class CommandCode : Byte {
    polling = 0x00,
    read_without_encryption = 0x06,
};

// Polling request codes: 00 = no request data, 01 = also answer the system code.
enum class RequestCode : Byte { none = 0x00, system_code = 0x01 };

// Why a response frame was refused. Each kind of mismatch is told apart so that the
// library can report it as its own reader/writer error type.
enum class FrameError {
    none,
    too_short,             // fewer bytes than the smallest valid answer
    length_mismatch,       // LEN differs from the bytes received
    wrong_response_code,   // not command code + 1
    wrong_idm,             // answer from a card other than the one addressed
    status_error,          // the card reported SF1/SF2 other than 00 00
    wrong_block_count,     // number of blocks differs from the count asked for
    wrong_data_length,     // block data is not 16 bytes per block
    wrong_system_code,     // polling answer names another system
};

std::string_view to_string(FrameError error);

// One 2- or 3-byte block list element, as the read command carries it.
struct BlockListElement {
    Byte service_index = 0;  // position in the service code list (0..15)
    Byte access_mode = 0;    // 0 = no purse cashback
    std::uint16_t block_number = 0;
};

// Splits an encoded block list into its elements (bit 7 of the first byte marks a 2-byte
// element). Returns nothing when the list ends inside an element or holds fewer than `count`.
std::optional<std::vector<BlockListElement>> decode_block_list(ByteView list, std::size_t count);
// Encodes elements in their shortest form (2 bytes for block numbers below 256).
Bytes encode_block_list(std::span<const BlockListElement> elements);

// Does a card of system `card` answer polling for `asked`? 0xFF bytes of `asked` match any.
bool system_code_matches(std::uint16_t asked, std::uint16_t card);

Bytes build_polling(std::uint16_t system_code, RequestCode request, Byte time_slots);

struct PollingResponse {
    Idm idm{};
    Pmm pmm{};
    std::optional<std::uint16_t> system_code;  // present when RC = 01 asked for it
};

struct PollingParse {
    FrameError error = FrameError::none;
    PollingResponse response;
};
// Validates LEN, response code, the optional system code and, for RC = 01, that the card
// belongs to `system_code` (0xFF bytes in it are wildcards).
PollingParse parse_polling_response(ByteView frame, RequestCode request,
                                    std::uint16_t system_code);

// Read Without Encryption. `service_code_list` holds 2 bytes per service, low byte first;
// `block_list` holds the encoded elements of `block_count` blocks.
Bytes build_read_without_encryption(const Idm& idm, ByteView service_code_list, ByteView block_list,
                                    Byte block_count);

struct ReadParse {
    FrameError error = FrameError::none;
    Byte status_flag_1 = 0;
    Byte status_flag_2 = 0;
    ByteView block_data;  // view into the parsed frame: 16 bytes per block
};
ReadParse parse_read_response(ByteView frame, const Idm& idm, Byte blocks_asked);

}  // namespace felica
