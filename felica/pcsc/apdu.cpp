#include "felica/pcsc/apdu.h"

#include <algorithm>

namespace felica::pcsc {

std::optional<ResponseApdu> split_response(ByteView response) {
    if (response.size() < 2) {
        return std::nullopt;
    }
    const std::size_t n = response.size();
    return ResponseApdu{response.first(n - 2),
                        static_cast<std::uint16_t>((response[n - 2] << 8) | response[n - 1])};
}

std::optional<Bytes> reader_command(Byte ins, Byte p1, Byte p2, ByteView data, bool with_le) {
    if (data.size() > kShortCommandRoom) {
        return std::nullopt;
    }
    // Sized once and filled in place (Le, when present, stays 00).
    Bytes command(5 + data.size() + (with_le ? 1 : 0), 0x00);
    command[0] = 0xFF;
    command[1] = ins;
    command[2] = p1;
    command[3] = p2;
    command[4] = static_cast<Byte>(data.size());
    std::copy(data.begin(), data.end(), command.begin() + 5);
    return command;
}

void append_ber_length(Bytes& out, std::size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<Byte>(length));
    } else if (length <= 0xFF) {
        out.push_back(0x81);
        out.push_back(static_cast<Byte>(length));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<Byte>(length >> 8));
        out.push_back(static_cast<Byte>(length & 0xFF));
    }
}

std::optional<std::vector<DataObject>> parse_data_objects(ByteView data) {
    std::vector<DataObject> objects;
    std::size_t at = 0;
    while (at < data.size()) {
        DataObject object;
        // Tag: a first byte with all five low bits set continues while bit 7 is set.
        std::uint32_t tag = data[at++];
        if ((tag & 0x1F) == 0x1F) {
            do {
                if (at >= data.size() || tag > 0xFFFFFF) {
                    return std::nullopt;
                }
                tag = (tag << 8) | data[at];
            } while (data[at++] & 0x80);
        }
        object.tag = tag;
        if (at >= data.size()) {
            return std::nullopt;
        }
        std::size_t length = data[at++];
        if (length & 0x80) {
            const std::size_t bytes = length & 0x7F;
            if (bytes < 1 || bytes > 2 || data.size() - at < bytes) {
                return std::nullopt;
            }
            length = 0;
            for (std::size_t i = 0; i < bytes; ++i) {
                length = (length << 8) | data[at++];
            }
        }
        if (data.size() - at < length) {
            return std::nullopt;
        }
        object.value = data.subspan(at, length);
        at += length;
        objects.push_back(object);
    }
    return objects;
}

const DataObject* find_data_object(const std::vector<DataObject>& objects, std::uint32_t tag) {
    const auto found = std::find_if(objects.begin(), objects.end(),
                                    [tag](const DataObject& object) { return object.tag == tag; });
    return found == objects.end() ? nullptr : &*found;
}

int blocks_fitting(std::size_t room) {
    constexpr std::size_t kAnswerHeader = 13;  // LEN 07 IDm SF1 SF2 count
    if (room < kAnswerHeader + kBlockSize) {
        return 1;
    }
    const std::size_t blocks = (room - kAnswerHeader) / kBlockSize;
    return static_cast<int>(std::min<std::size_t>(blocks, kMaxBlocksPerFrame));
}

}  // namespace felica::pcsc
