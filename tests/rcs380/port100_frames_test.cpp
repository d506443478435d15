// The Port-100 codec against frames traced from a real RC-S380 (firmware 1.11) and frames
// built by the same rules.
#include "felica/rcs380/port100_frames.h"

#include <gtest/gtest.h>

namespace felica::rcs380 {
namespace {

TEST(Port100Frames, BuildsTheTracedCommands) {
    struct Case {
        Command command;
        Bytes arguments;
        Bytes frame;
    };
    const Case cases[] = {
        {Command::set_command_type,
         {0x01},
         {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0xFD, 0xD6, 0x2A, 0x01, 0xFF, 0x00}},
        {Command::get_firmware_version,
         {},
         {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0xFE, 0xD6, 0x20, 0x0A, 0x00}},
        {Command::switch_rf,
         {0x00},
         {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0xFD, 0xD6, 0x06, 0x00, 0x24, 0x00}},
        {Command::in_set_rf,
         {0x01, 0x01, 0x0F, 0x01},
         {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x06, 0x00, 0xFA, 0xD6, 0x00, 0x01, 0x01, 0x0F, 0x01, 0x18,
          0x00}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(build_command(c.command, c.arguments), c.frame);
    }
}

TEST(Port100Frames, ReadsTheTracedAnswers) {
    const Bytes set_command_type = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x03, 0x00,
                                    0xFD, 0xD7, 0x2B, 0x00, 0xFE, 0x00};
    const Bytes firmware = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x04, 0x00,
                            0xFC, 0xD7, 0x21, 0x11, 0x01, 0xF6, 0x00};
    const Bytes no_card = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x06, 0x00, 0xFA,
                           0xD7, 0x05, 0x80, 0x00, 0x00, 0x00, 0xA4, 0x00};
    EXPECT_EQ(parse_response(set_command_type, Command::set_command_type).data, Bytes{0x00});
    EXPECT_EQ(parse_response(firmware, Command::get_firmware_version).data, (Bytes{0x11, 0x01}));
    EXPECT_EQ(parse_response(no_card, Command::in_comm_rf).data, (Bytes{0x80, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(is_ack(Bytes{0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00}));
    EXPECT_FALSE(is_ack(set_command_type));
}

TEST(Port100Frames, RefusesEveryBrokenAnswer) {
    // GetFirmwareVersion's traced answer, broken one way at a time.
    const Bytes good = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x04, 0x00,
                        0xFC, 0xD7, 0x21, 0x11, 0x01, 0xF6, 0x00};
    struct Case {
        const char* name;
        std::size_t index;  // byte to change; npos: drop the last byte
        Byte value;
        FrameFault fault;
    };
    const Case cases[] = {
        {"start code", 4, 0x00, FrameFault::bad_start},
        {"LCS", 7, 0xFD, FrameFault::bad_length_checksum},
        {"DCS", 12, 0xF7, FrameFault::bad_data_checksum},
        {"postamble", 13, 0x01, FrameFault::bad_postamble},
        {"one byte short", std::string::npos, 0, FrameFault::length_mismatch},
    };
    for (const Case& c : cases) {
        Bytes frame = good;
        if (c.index == std::string::npos) {
            frame.pop_back();
        } else {
            frame[c.index] = c.value;
        }
        EXPECT_EQ(parse_response(frame, Command::get_firmware_version).fault, c.fault) << c.name;
    }
    Bytes length_fixed = good;  // LEN 5 with a matching LCS: one byte missing
    length_fixed[5] = 0x05;
    length_fixed[7] = 0xFB;
    EXPECT_EQ(parse_response(length_fixed, Command::get_firmware_version).fault,
              FrameFault::length_mismatch);
    Bytes command_code = good;  // D6 with a matching DCS
    command_code[8] = 0xD6;
    command_code[12] = 0xF7;
    EXPECT_EQ(parse_response(command_code, Command::get_firmware_version).fault,
              FrameFault::not_a_response);
    EXPECT_EQ(parse_response(good, Command::set_command_type).fault,
              FrameFault::wrong_response_code);
    EXPECT_EQ(
        parse_response(Bytes(good.begin(), good.begin() + 9), Command::get_firmware_version).fault,
        FrameFault::too_short);
}

}  // namespace
}  // namespace felica::rcs380
