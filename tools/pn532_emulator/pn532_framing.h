// The PN532's serial framing (HSU): information frames, ACK/NACK and the error frame, both
// ways. The emulator decodes what the host sends and encodes what the chip answers.
#pragma once

#include <cstddef>
#include <optional>

#include "felica/types.h"

namespace pn532 {

using felica::Byte;
using felica::Bytes;
using felica::ByteView;

inline constexpr Byte kHostToChip = 0xD4;  // TFI of frames the host sends
inline constexpr Byte kChipToHost = 0xD5;  // TFI of frames the chip answers

// 00 00 FF 00 FF 00: "frame received", sent by the chip before it runs a command.
inline constexpr Byte kAckFrame[] = {0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00};
// 00 00 FF 01 FF 7F 81 00: the chip's "syntax error" answer (application level error).
inline constexpr Byte kErrorFrame[] = {0x00, 0x00, 0xFF, 0x01, 0xFF, 0x7F, 0x81, 0x00};

// Wraps `data` (TFI and the command or answer bytes) in a frame: a normal frame up to 255
// bytes of data, an extended frame (LEN FF FF LENhi LENlo LCS) above.
Bytes encode_frame(ByteView data);

// One thing the host sent, as the chip sees it.
struct HostFrame {
    enum class Kind {
        information,   // a command: `data` holds TFI and the command bytes
        ack,           // 00 00 FF 00 FF 00 (the host aborts the running command)
        nack,          // 00 00 FF FF 00 00 (the host asks for the last answer again)
        bad_checksum,  // LCS or DCS did not add up; the frame is dropped
    };
    Kind kind = Kind::information;
    Bytes data;
};

// Cuts the byte stream from the host into frames. Bytes before a start code (the wake-up
// preamble 55 55 00 …, line noise, the rest of an abandoned frame) are skipped.
class FrameDecoder {
  public:
    void feed(ByteView bytes);
    // The next complete frame, or nothing until more bytes arrive.
    std::optional<HostFrame> next();
    // Drops everything buffered (a chip that goes to sleep forgets a half-received frame).
    void clear() { buffer_.clear(); }

  private:
    Bytes buffer_;
};

}  // namespace pn532
