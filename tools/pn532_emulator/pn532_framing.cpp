#include "tools/pn532_emulator/pn532_framing.h"

#include <algorithm>

namespace pn532 {
namespace {

constexpr std::size_t kNormalHeader = 5;    // 00 00 FF LEN LCS (the first 00 is optional)
constexpr std::size_t kExtendedHeader = 8;  // 00 00 FF FF FF LENhi LENlo LCS
constexpr std::size_t kMaxData = 65535;

Byte checksum_of(ByteView bytes) {
    Byte sum = 0;
    for (const Byte b : bytes) {
        sum = static_cast<Byte>(sum + b);
    }
    return static_cast<Byte>(0x100 - sum);
}

}  // namespace

Bytes encode_frame(ByteView data) {
    data = data.first(std::min(data.size(), kMaxData));
    Bytes frame;
    frame.reserve(data.size() + 11);
    frame.push_back(0x00);  // preamble
    frame.push_back(0x00);  // start code 00 FF
    frame.push_back(0xFF);
    if (data.size() <= 0xFF) {
        frame.push_back(static_cast<Byte>(data.size()));
        frame.push_back(static_cast<Byte>(0x100 - data.size()));
    } else {
        const auto high = static_cast<Byte>(data.size() >> 8);
        const auto low = static_cast<Byte>(data.size() & 0xFF);
        frame.push_back(0xFF);  // FF FF marks an extended frame
        frame.push_back(0xFF);
        frame.push_back(high);
        frame.push_back(low);
        frame.push_back(static_cast<Byte>(0x100 - high - low));
    }
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(checksum_of(data));
    frame.push_back(0x00);  // postamble
    return frame;
}

void FrameDecoder::feed(ByteView bytes) {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<HostFrame> FrameDecoder::next() {
    // The start code 00 FF; the preamble byte before it is not needed to find a frame.
    std::size_t start = 0;
    while (start + 1 < buffer_.size() && !(buffer_[start] == 0x00 && buffer_[start + 1] == 0xFF)) {
        ++start;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start));
    if (buffer_.size() < 4) {
        return std::nullopt;
    }
    // buffer_ now holds 00 FF LEN LCS …
    const Byte len = buffer_[2];
    const Byte lcs = buffer_[3];
    if (len == 0x00 && lcs == 0xFF) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + 4);
        return HostFrame{HostFrame::Kind::ack, {}};
    }
    if (len == 0xFF && lcs == 0x00) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + 4);
        return HostFrame{HostFrame::Kind::nack, {}};
    }
    std::size_t header = kNormalHeader - 1;
    std::size_t length = len;
    bool length_ok = static_cast<Byte>(len + lcs) == 0;
    if (len == 0xFF && lcs == 0xFF) {
        if (buffer_.size() < kExtendedHeader - 1) {
            return std::nullopt;
        }
        header = kExtendedHeader - 1;
        length = (std::size_t{buffer_[4]} << 8) | buffer_[5];
        length_ok = static_cast<Byte>(buffer_[4] + buffer_[5] + buffer_[6]) == 0;
    }
    if (!length_ok || length == 0) {
        // Not a frame after all: the next call looks for the next start code.
        buffer_.erase(buffer_.begin(), buffer_.begin() + 2);
        return HostFrame{HostFrame::Kind::bad_checksum, {}};
    }
    const std::size_t total = header + length + 2;  // … DCS 00
    if (buffer_.size() < total) {
        return std::nullopt;
    }
    const ByteView data(buffer_.data() + header, length);
    HostFrame frame{HostFrame::Kind::bad_checksum, {}};
    if (checksum_of(data) == buffer_[header + length]) {
        frame = HostFrame{HostFrame::Kind::information, Bytes(data.begin(), data.end())};
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
    return frame;
}

}  // namespace pn532
