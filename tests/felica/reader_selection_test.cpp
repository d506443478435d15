// Settings of VIRUDE_READER that name no usable reader. (The card-image settings are checked
// through virude-dump, which prints these reasons.)
#include "felica/reader_selection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace felica {
namespace {

TEST(ReaderSelection, ExplainsEverySettingItCannotUse) {
    const std::pair<std::string, std::string> cases[] = {
#ifdef _WIN32
        {"rcs380", "RC-S380 over USB: not available in the Windows build"},
        {"libnfc", "libnfc: not available in the Windows build"},
#else
        {"rcs380:1", "not BUS:DEVICE"},
        {"rcs380:1:256", "not BUS:DEVICE"},
        {"rcs380:x:5", "not BUS:DEVICE"},
#endif
        {"simulator", "VIRUDE_READER: unknown reader \"simulator\""},
        {"SIM", "unknown"},
    };
    for (const auto& [setting, says] : cases) {
        const OpenedReader opened = open_reader(setting);
        EXPECT_FALSE(opened.backend) << setting;
        EXPECT_EQ(opened.error, RwError::reader_setting) << setting;
        EXPECT_THAT(opened.reason, ::testing::HasSubstr(says));
    }
}

}  // namespace
}  // namespace felica
