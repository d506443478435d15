// The Port-100 codec against answers traced from a real RC-S380 (firmware 1.11), and the same
// answers broken one way at a time. (The commands it builds are checked byte for byte in the
// click through the chip's model.)
#include "felica/rcs380/port100_frames.h"

#include <gtest/gtest.h>

namespace felica::rcs380 {
namespace {

const Bytes kFirmware = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x04, 0x00,
                         0xFC, 0xD7, 0x21, 0x11, 0x01, 0xF6, 0x00};

TEST(Port100Frames, ReadsTheTracedAnswers) {
    const Bytes set_command_type = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x03, 0x00,
                                    0xFD, 0xD7, 0x2B, 0x00, 0xFE, 0x00};
    const Bytes no_card = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x06, 0x00, 0xFA,
                           0xD7, 0x05, 0x80, 0x00, 0x00, 0x00, 0xA4, 0x00};
    EXPECT_EQ(parse_response(set_command_type, Command::set_command_type).data, Bytes{0x00});
    EXPECT_EQ(parse_response(kFirmware, Command::get_firmware_version).data, (Bytes{0x11, 0x01}));
    EXPECT_EQ(parse_response(no_card, Command::in_comm_rf).data, (Bytes{0x80, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(is_ack(Bytes{0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00}));
    EXPECT_FALSE(is_ack(set_command_type));
}

TEST(Port100Frames, RefusesEveryBrokenAnswer) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::size_t, Byte>> changes;  // bytes of GetFirmwareVersion's answer
        std::size_t size;                                   // then cut to this size
        FrameFault fault;
        Command command = Command::get_firmware_version;
    };
    const Case cases[] = {
        {"start code", {{4, 0x00}}, 14, FrameFault::bad_start},
        {"LCS", {{7, 0xFD}}, 14, FrameFault::bad_length_checksum},
        {"DCS", {{12, 0xF7}}, 14, FrameFault::bad_data_checksum},
        {"postamble", {{13, 0x01}}, 14, FrameFault::bad_postamble},
        {"one byte short", {}, 13, FrameFault::length_mismatch},
        {"LEN 5 with a matching LCS", {{5, 0x05}, {7, 0xFB}}, 14, FrameFault::length_mismatch},
        {"D6 with a matching DCS", {{8, 0xD6}, {12, 0xF7}}, 14, FrameFault::not_a_response},
        {"cut in the header", {}, 9, FrameFault::too_short},
        {"answer to another command",
         {},
         14,
         FrameFault::wrong_response_code,
         Command::set_command_type},
    };
    for (const Case& c : cases) {
        Bytes frame = kFirmware;
        for (const auto& [index, value] : c.changes) {
            frame[index] = value;
        }
        frame.resize(c.size);
        EXPECT_EQ(parse_response(frame, c.command).fault, c.fault) << c.name;
    }
}

}  // namespace
}  // namespace felica::rcs380
