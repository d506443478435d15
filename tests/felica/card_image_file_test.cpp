#include "felica/sim/card_image_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace felica {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kData = VIRUDE_TEST_DATA;

// The smallest valid image, with `extra` spliced in before the closing brace.
std::string image_with(const std::string& extra) {
    return R"({"idm": "012E4CD3A1B2C3D4", "pmm": "0120220427674EFF",
               "services": {"008B": ["00000000000000000000000000000000"]})" +
           extra + "}";
}

std::string error_of(const std::string& text) {
    const auto result = parse_card_image(text, "test.json");
    if (const auto* message = std::get_if<std::string>(&result)) {
        return *message;
    }
    return "(accepted)";
}

TEST(CardImageFile, LoadsAFileWithEveryField) {
    const auto result = load_card_image(kData + "/sim_image_faults.json");
    ASSERT_TRUE(std::holds_alternative<LoadedCard>(result)) << std::get<std::string>(result);
    const LoadedCard& card = std::get<LoadedCard>(result);
    EXPECT_EQ(card.image.idm, (Idm{0x01, 0x2E, 0x4C, 0xD3, 0xA1, 0xB2, 0xC3, 0xD4}));
    EXPECT_EQ(card.image.pmm, (Pmm{0x01, 0x20, 0x22, 0x04, 0x27, 0x67, 0x4E, 0xFF}));
    EXPECT_EQ(card.image.system_code, 0x80FF);
    EXPECT_EQ(card.image.block_limit, 8);
    ASSERT_EQ(card.image.services.size(), 2u);
    const auto& blocks = card.image.services.at(0x090F);
    ASSERT_EQ(blocks.size(), 2u);
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        EXPECT_EQ(blocks[0][i], 0x11 * i);  // lower case
        EXPECT_EQ(blocks[1][i], 15 - i);    // spaced bytes
    }
    EXPECT_EQ(card.image.services.at(0x10CB).at(0)[3], 0xA5);
    EXPECT_EQ(card.faults.removed_after, 3);
    EXPECT_FALSE(card.faults.silent);
    EXPECT_EQ(card.faults.garble, Garble::wrong_idm);
    EXPECT_EQ(card.faults.sf1_encoding, Sf1Encoding::bitmask);
}

TEST(CardImageFile, SyntaxErrorsSayWhereInOneLine) {
    const std::string broken = ::testing::TempDir() + "virude_broken_image.json";
    std::ofstream(broken) << "{\"idm\": \"012E4CD3A1B2C3D4\",\n  \"pmm\": }";
    const auto syntax = load_card_image(broken);
    std::remove(broken.c_str());
    ASSERT_TRUE(std::holds_alternative<std::string>(syntax));
    EXPECT_THAT(std::get<std::string>(syntax),
                AllOf(StartsWith("card image " + broken + ": invalid JSON"), HasSubstr("line 2"),
                      Not(HasSubstr("json.exception")), Not(HasSubstr("\n"))));
}

TEST(CardImageFile, MalformedFieldsAreNamed) {
    const struct {
        std::string text;
        std::string problem;
    } cases[] = {
        {"[1, 2]", "top level must be a JSON object"},
        {R"({"pmm": "0120220427674EFF", "services": {}})", R"("idm" is missing)"},
        {R"({"idm": "012E4CD3A1B2C3", "pmm": "0120220427674EFF", "services": {}})",
         R"("idm" must be 16 hex digits)"},
        {image_with(R"(, "sytem_code": "802B")"), R"(unknown key "sytem_code")"},
        {image_with(R"(, "block_limit": 0)"),
         R"("block_limit" must be a whole number from 1 to 15)"},
        {image_with(R"(, "block_limit": 4.5)"), R"("block_limit" must be)"},
        {R"({"idm": "012E4CD3A1B2C3D4", "pmm": "0120220427674EFF",
             "services": {"90F": ["00000000000000000000000000000000"]}})",
         R"(service code "90F" must be 4 hex digits)"},
        {R"({"idm": "012E4CD3A1B2C3D4", "pmm": "0120220427674EFF",
             "services": {"090F": ["00000000000000000000000000000000",
                                   "000000000000000000000000000000"]}})",
         "service 090F block 1 must be 32 hex digits"},
        {R"({"idm": "012E4CD3A1B2C3D4", "pmm": "0120220427674EFF",
             "services": {"090f": ["00000000000000000000000000000000"],
                          "090F": ["00000000000000000000000000000000"]}})",
         "service 090F appears twice"},
        {image_with(R"(, "idm": "012E4CD3A1B2C3D5")"), R"(key "idm" appears twice)"},
        {image_with(R"(, "faults": {"garble": "truncated"})"), R"("garble" must be one of)"},
        {image_with(R"(, "faults": {"remove_after": 2})"),
         R"(unknown key "remove_after" in "faults")"},
    };
    for (const auto& c : cases) {
        const std::string message = error_of(c.text);
        EXPECT_THAT(message, AllOf(StartsWith("card image test.json: "), HasSubstr(c.problem),
                                   Not(HasSubstr("\n"))))
            << c.text;
    }
}

TEST(CardImageFile, EdgeValuesThatAreAccepted) {
    for (const char* extra : {R"(, "block_limit": 1)", R"(, "system_code": "FFFF")",
                              R"(, "faults": {"removed_after": 0, "garble": "none"})"}) {
        EXPECT_EQ(error_of(image_with(extra)), "(accepted)") << extra;
    }
}

}  // namespace
}  // namespace felica
