// FeliCa response validation: polling and read answers, and block lists.
// Input: flags, blocks asked, system code (2 bytes), then the frame. Flag bit 0 asks for the
// system code in polling; bit 1 takes the IDm from the frame itself, so that the checks past
// the IDm are reached; bit 2 also builds a valid read answer from the bytes and parses it.
#include <algorithm>

#include "felica/errors.h"
#include "felica/frames.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace felica;

constexpr std::size_t kReadHeader = 13;  // LEN 07 IDm SF1 SF2 count

void check_polling(ByteView frame, RequestCode request, std::uint16_t system_code) {
    const PollingParse parsed = parse_polling_response(frame, request, system_code);
    if (parsed.error != FrameError::none) {
        FUZZ_CHECK(parsed.error == FrameError::too_short ||
                   parsed.error == FrameError::length_mismatch ||
                   parsed.error == FrameError::wrong_response_code ||
                   parsed.error == FrameError::wrong_system_code);
        return;
    }
    const bool with_code = request == RequestCode::system_code;
    const std::size_t expected = with_code ? 20 : 18;
    FUZZ_CHECK(frame.size() == expected && frame[0] == expected && frame[1] == 0x01);
    FUZZ_CHECK(std::equal(parsed.response.idm.begin(), parsed.response.idm.end(), &frame[2]));
    FUZZ_CHECK(std::equal(parsed.response.pmm.begin(), parsed.response.pmm.end(), &frame[10]));
    FUZZ_CHECK(parsed.response.system_code.has_value() == with_code);
    if (with_code) {
        FUZZ_CHECK(*parsed.response.system_code == ((frame[18] << 8) | frame[19]));
        FUZZ_CHECK(system_code_matches(system_code, *parsed.response.system_code));
    }
}

void check_read(ByteView frame, const Idm& idm, Byte blocks) {
    const ReadParse parsed = parse_read_response(frame, idm, blocks);
    FUZZ_CHECK((parsed.error == FrameError::none) == (rw_error_of(parsed.error) == RwError::none));
    if (parsed.error == FrameError::status_error) {
        FUZZ_CHECK(parsed.status_flag_1 != 0 || parsed.status_flag_2 != 0);
    }
    if (parsed.error != FrameError::none) {
        FUZZ_CHECK(parsed.block_data.empty());
        return;
    }
    // A validated read carries exactly 16 bytes per block asked for, at the frame's end.
    FUZZ_CHECK(parsed.block_data.size() == kBlockSize * blocks);
    FUZZ_CHECK(frame.size() == kReadHeader + parsed.block_data.size() && frame[0] == frame.size());
    FUZZ_CHECK(parsed.block_data.data() == frame.data() + kReadHeader);
    FUZZ_CHECK(frame[1] == 0x07 && std::equal(idm.begin(), idm.end(), &frame[2]));
    FUZZ_CHECK(frame[10] == 0 && frame[11] == 0 && frame[12] == blocks);
}

// A well-formed answer of `blocks` blocks must be accepted with its data intact.
void check_valid_read(const Idm& idm, Byte blocks, ByteView fill) {
    Bytes frame{0, 0x07};
    frame.insert(frame.end(), idm.begin(), idm.end());
    frame.insert(frame.end(), {0x00, 0x00, blocks});
    for (std::size_t i = 0; i < kBlockSize * blocks; ++i) {
        frame.push_back(fill.empty() ? Byte{0} : fill[i % fill.size()]);
    }
    frame[0] = static_cast<Byte>(frame.size());
    const ReadParse parsed = parse_read_response(frame, idm, blocks);
    FUZZ_CHECK(parsed.error == FrameError::none);
    FUZZ_CHECK(std::equal(parsed.block_data.begin(), parsed.block_data.end(),
                          frame.begin() + kReadHeader, frame.end()));
}

void check_block_list(ByteView list, std::size_t count) {
    const auto elements = decode_block_list(list, count);
    if (!elements) {
        return;
    }
    FUZZ_CHECK(elements->size() == count);
    for (const BlockListElement& element : *elements) {
        FUZZ_CHECK(element.service_index < 16 && element.access_mode < 8);
    }
    // The shortest form is never longer than what was decoded, and decodes to the same.
    const Bytes encoded = encode_block_list(*elements);
    FUZZ_CHECK(encoded.size() <= list.size());
    const auto again = decode_block_list(encoded, count);
    FUZZ_CHECK(again && again->size() == count);
    for (std::size_t i = 0; i < count; ++i) {
        FUZZ_CHECK((*again)[i].service_index == (*elements)[i].service_index &&
                   (*again)[i].access_mode == (*elements)[i].access_mode &&
                   (*again)[i].block_number == (*elements)[i].block_number);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const Byte flags = input.byte();
    const Byte blocks = input.byte();
    const auto system_code = static_cast<std::uint16_t>((input.byte() << 8) | input.byte());
    const ByteView frame = input.rest();

    const RequestCode request = (flags & 1) ? RequestCode::system_code : RequestCode::none;
    check_polling(frame, request, system_code);

    Idm idm{0x01, 0x2E, 0x4C, 0xD3, 0xA1, 0xB2, 0xC3, 0xD4};
    if ((flags & 2) && frame.size() >= 10) {
        std::copy_n(frame.begin() + 2, idm.size(), idm.begin());
    }
    check_read(frame, idm, blocks);
    if (flags & 4) {
        check_valid_read(idm, blocks % (kMaxBlocksPerFrame + 1), frame);
    }
    check_block_list(frame, blocks);
    return 0;
}
