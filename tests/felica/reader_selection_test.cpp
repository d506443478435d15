#include "felica/reader_selection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace felica {
namespace {

using ::testing::HasSubstr;

TEST(ReaderSelection, OpensTheBuiltInDemoCard) {
    OpenedReader opened = open_reader("sim");
    ASSERT_TRUE(opened.backend) << opened.reason;
    EXPECT_EQ(opened.backend->max_blocks_per_read(), 15);
    const Bytes polling = {0x06, 0x00, 0x80, 0x2B, 0x00, 0x00};
    const Transfer answer = opened.backend->poll(polling, std::chrono::milliseconds(20));
    ASSERT_TRUE(answer.ok());
    EXPECT_EQ(answer.response.size(), 18u);
    opened.backend->close();
}

TEST(ReaderSelection, OpensACardImageFile) {
    const std::string path = ::testing::TempDir() + "/selection_card.json";
    std::ofstream(path) << R"({"idm": "0102030405060708", "pmm": "00F100000001434B",
        "services": {"008B": ["00112233445566778899AABBCCDDEEFF"]}})";
    OpenedReader opened = open_reader("sim:" + path);
    ASSERT_TRUE(opened.backend) << opened.reason;
    const Bytes polling = {0x06, 0x00, 0x80, 0x2B, 0x00, 0x00};
    const Transfer answer = opened.backend->poll(polling, std::chrono::milliseconds(20));
    ASSERT_TRUE(answer.ok());
    EXPECT_EQ(answer.response[2], 0x01);
    EXPECT_EQ(answer.response[9], 0x08);
    std::remove(path.c_str());
}

TEST(ReaderSelection, ExplainsEverySettingItCannotUse) {
    struct Case {
        std::optional<std::string> setting;
        RwError error;
        std::string says;
    };
    const Case cases[] = {
#ifdef _WIN32
        {"rcs380", RwError::reader_setting, "RC-S380 over USB: not available in the Windows build"},
#else
        {"rcs380:1", RwError::reader_setting, "not BUS:DEVICE"},
        {"rcs380:1:256", RwError::reader_setting, "not BUS:DEVICE"},
        {"rcs380:x:5", RwError::reader_setting, "not BUS:DEVICE"},
#endif
        {"sim:", RwError::reader_setting, "names no card image"},
        {"sim:/nonexistent/card.json", RwError::reader_setting, "/nonexistent/card.json"},
        {"simulator", RwError::reader_setting, "unknown VIRUDE_READER value \"simulator\""},
        {"SIM", RwError::reader_setting, "unknown"},
#ifdef _WIN32
        {"libnfc", RwError::reader_setting, "libnfc: not available in the Windows build"},
#else
        {"libnfc:pn532_uart:/nonexistent/tty", RwError::no_reader, "libnfc"},
#endif
    };
    for (const Case& c : cases) {
        const OpenedReader opened = open_reader(c.setting);
        EXPECT_FALSE(opened.backend) << c.says;
        EXPECT_EQ(opened.error, c.error) << c.says;
        EXPECT_THAT(opened.reason, HasSubstr(c.says));
    }
}

}  // namespace
}  // namespace felica
