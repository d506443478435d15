#include "felica/frames.h"

#include <algorithm>

namespace felica {
namespace {

constexpr Byte kPollingResponse = 0x01;
constexpr Byte kReadResponse = 0x07;
constexpr std::size_t kPollingAnswerLength = 18;          // LEN 01 IDm PMm
constexpr std::size_t kPollingAnswerWithCodeLength = 20;  // … and the system code
constexpr std::size_t kReadErrorLength = 12;              // LEN 07 IDm SF1 SF2
constexpr std::size_t kReadHeaderLength = 13;             // … and the number of blocks

FrameError check_length(ByteView frame, std::size_t minimum) {
    if (frame.size() < minimum) {
        return FrameError::too_short;
    }
    if (frame[0] != frame.size()) {
        return FrameError::length_mismatch;
    }
    return FrameError::none;
}

void finish_length(Bytes& frame) {
    frame[0] = static_cast<Byte>(frame.size());
}

}  // namespace

bool system_code_matches(std::uint16_t asked, std::uint16_t card) {
    const bool high_ok = (asked >> 8) == 0xFF || (asked >> 8) == (card >> 8);
    const bool low_ok = (asked & 0xFF) == 0xFF || (asked & 0xFF) == (card & 0xFF);
    return high_ok && low_ok;
}

std::string_view to_string(FrameError error) {
    switch (error) {
        case FrameError::none:
            return "none";
        case FrameError::too_short:
            return "response too short";
        case FrameError::length_mismatch:
            return "LEN differs from the bytes received";
        case FrameError::wrong_response_code:
            return "wrong response code";
        case FrameError::wrong_idm:
            return "answer from another card";
        case FrameError::status_error:
            return "card reported an error status";
        case FrameError::wrong_block_count:
            return "wrong number of blocks";
        case FrameError::wrong_data_length:
            return "block data of the wrong length";
        case FrameError::wrong_system_code:
            return "card of another system";
    }
    return "unknown frame error";
}

std::optional<std::vector<BlockListElement>> decode_block_list(ByteView list, std::size_t count) {
    std::vector<BlockListElement> elements;
    elements.reserve(count);
    std::size_t at = 0;
    while (elements.size() < count) {
        if (at >= list.size()) {
            return std::nullopt;
        }
        const Byte head = list[at];
        BlockListElement element;
        element.service_index = head & 0x0F;
        element.access_mode = (head >> 4) & 0x07;
        if (head & 0x80) {
            if (at + 2 > list.size()) {
                return std::nullopt;
            }
            element.block_number = list[at + 1];
            at += 2;
        } else {
            if (at + 3 > list.size()) {
                return std::nullopt;
            }
            element.block_number = static_cast<std::uint16_t>(list[at + 1] | (list[at + 2] << 8));
            at += 3;
        }
        elements.push_back(element);
    }
    return elements;
}

Bytes encode_block_list(std::span<const BlockListElement> elements) {
    Bytes list;
    for (const BlockListElement& element : elements) {
        const Byte head =
            static_cast<Byte>(((element.access_mode & 0x07) << 4) | (element.service_index & 0x0F));
        if (element.block_number <= 0xFF) {
            list.push_back(static_cast<Byte>(0x80 | head));
            list.push_back(static_cast<Byte>(element.block_number));
        } else {
            list.push_back(head);
            list.push_back(static_cast<Byte>(element.block_number & 0xFF));
            list.push_back(static_cast<Byte>(element.block_number >> 8));
        }
    }
    return list;
}

Bytes build_polling(std::uint16_t system_code, RequestCode request, Byte time_slots) {
    return {0x06,
            static_cast<Byte>(CommandCode::polling),
            static_cast<Byte>(system_code >> 8),
            static_cast<Byte>(system_code & 0xFF),
            static_cast<Byte>(request),
            time_slots};
}

PollingParse parse_polling_response(ByteView frame, RequestCode request,
                                    std::uint16_t system_code) {
    PollingParse parsed;
    const bool with_code = request == RequestCode::system_code;
    const std::size_t expected = with_code ? kPollingAnswerWithCodeLength : kPollingAnswerLength;
    parsed.error = check_length(frame, expected);
    if (parsed.error != FrameError::none) {
        return parsed;
    }
    if (frame.size() != expected) {
        parsed.error = FrameError::length_mismatch;
        return parsed;
    }
    if (frame[1] != kPollingResponse) {
        parsed.error = FrameError::wrong_response_code;
        return parsed;
    }
    std::copy_n(frame.begin() + 2, 8, parsed.response.idm.begin());
    std::copy_n(frame.begin() + 10, 8, parsed.response.pmm.begin());
    if (with_code) {
        const auto answered = static_cast<std::uint16_t>((frame[18] << 8) | frame[19]);
        if (!system_code_matches(system_code, answered)) {
            parsed.error = FrameError::wrong_system_code;
            return parsed;
        }
        parsed.response.system_code = answered;
    }
    return parsed;
}

Bytes build_read_without_encryption(const Idm& idm, ByteView service_code_list, ByteView block_list,
                                    Byte block_count) {
    Bytes frame;
    frame.reserve(1 + 1 + idm.size() + 1 + service_code_list.size() + 1 + block_list.size());
    frame.push_back(0);  // LEN, set below
    frame.push_back(static_cast<Byte>(CommandCode::read_without_encryption));
    frame.insert(frame.end(), idm.begin(), idm.end());
    frame.push_back(static_cast<Byte>(service_code_list.size() / 2));
    frame.insert(frame.end(), service_code_list.begin(), service_code_list.end());
    frame.push_back(block_count);
    frame.insert(frame.end(), block_list.begin(), block_list.end());
    finish_length(frame);
    return frame;
}

ReadParse parse_read_response(ByteView frame, const Idm& idm, Byte blocks_asked) {
    ReadParse parsed;
    parsed.error = check_length(frame, kReadErrorLength);
    if (parsed.error != FrameError::none) {
        return parsed;
    }
    if (frame[1] != kReadResponse) {
        parsed.error = FrameError::wrong_response_code;
        return parsed;
    }
    if (!std::equal(idm.begin(), idm.end(), frame.begin() + 2)) {
        parsed.error = FrameError::wrong_idm;
        return parsed;
    }
    parsed.status_flag_1 = frame[10];
    parsed.status_flag_2 = frame[11];
    if (parsed.status_flag_1 != 0 || parsed.status_flag_2 != 0) {
        // An error answer carries no block count and no data; anything after the flags
        // is ignored rather than taken as data.
        parsed.error = FrameError::status_error;
        return parsed;
    }
    if (frame.size() < kReadHeaderLength) {
        parsed.error = FrameError::too_short;
        return parsed;
    }
    if (frame[12] != blocks_asked) {
        parsed.error = FrameError::wrong_block_count;
        return parsed;
    }
    const std::size_t data_length = frame.size() - kReadHeaderLength;
    if (data_length != kBlockSize * blocks_asked) {
        parsed.error = FrameError::wrong_data_length;
        return parsed;
    }
    parsed.block_data = frame.subspan(kReadHeaderLength);
    return parsed;
}

}  // namespace felica
