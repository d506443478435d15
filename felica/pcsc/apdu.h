// Command and response APDUs as PC/SC readers carry FeliCa: the readers' own commands (class
// FF), status words, BER-TLV data objects, and how many blocks fit the room a reader has.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "felica/types.h"

namespace felica::pcsc {

inline constexpr std::uint16_t kSwSuccess = 0x9000;
// The most data bytes of a short response APDU (Le = 00).
inline constexpr std::size_t kShortResponseRoom = 256;

// A response APDU split into its data and its status word.
struct ResponseApdu {
    ByteView data;
    std::uint16_t sw = 0;
};

// Nothing when the response is under 2 bytes: it has no status word.
std::optional<ResponseApdu> split_response(ByteView response);

// The most data bytes a short command APDU carries: Lc is one byte.
inline constexpr std::size_t kShortCommandRoom = 255;

// A command APDU of the reader itself: FF INS P1 P2 Lc data [Le]. Nothing when `data` is
// longer than Lc can tell: such a command is never sent with a wrong length.
std::optional<Bytes> reader_command(Byte ins, Byte p1, Byte p2, ByteView data,
                                    bool with_le = false);

// The same for the reader's own commands of a few fixed bytes, which always fit.
template <std::size_t N>
Bytes fixed_reader_command(Byte ins, Byte p1, Byte p2, const Byte (&data)[N],
                           bool with_le = false) {
    static_assert(N <= kShortCommandRoom);
    return *reader_command(ins, p1, p2, ByteView(data, N), with_le);
}

// Appends a BER-TLV length (1, 2 or 3 bytes).
void append_ber_length(Bytes& out, std::size_t length);

struct DataObject {
    std::uint32_t tag = 0;  // one or more tag bytes, first byte highest
    ByteView value;
};

// Splits BER-TLV encoded data into its data objects; nothing when a tag or a length is cut
// off, a length runs past the end, or a length form is not one of 1, 2 or 3 bytes.
std::optional<std::vector<DataObject>> parse_data_objects(ByteView data);

// The first data object with `tag`, if any.
const DataObject* find_data_object(const std::vector<DataObject>& objects, std::uint32_t tag);

// The most blocks (1..15) whose Read Without Encryption answer, 13 + 16 n bytes, fits in
// `room` bytes.
int blocks_fitting(std::size_t room);

}  // namespace felica::pcsc
