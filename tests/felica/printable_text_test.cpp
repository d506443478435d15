#include "felica/printable_text.h"

#include <gtest/gtest.h>

namespace felica {
namespace {

TEST(PrintableText, EscapesWhatATerminalWouldObeyAndKeepsTheRest) {
    EXPECT_EQ(printable_text("ゆるかの 0x090F\t"), "ゆるかの 0x090F\\x09");
    EXPECT_EQ(printable_text("a\x1b[2J\x7f"), "a\\x1B[2J\\x7F");
    EXPECT_EQ(printable_text("\xc2\x9b"
                             "31m"),
              "\\xC2\\x9B31m");                                    // C1 CSI in UTF-8
    EXPECT_EQ(printable_text("\x9b\xe3\x81"), "\\x9B\\xE3\\x81");  // not UTF-8
    EXPECT_EQ(printable_text("\xc0\xaf"), "\\xC0\\xAF");           // overlong "/"
}

}  // namespace
}  // namespace felica
