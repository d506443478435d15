// Runs the built virude-dump against simulated and missing readers.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/program_run.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kData = VIRUDE_TEST_DATA;
const std::string kCaptions[] = {"0x008Bの内容", "0x090Fの内容", "0x108Fの内容", "0x10CBの内容"};
const std::string kNoReader = "パソリを接続してください。\n";
const std::string kNoCard = "ゆるかのをパソリにおいてください。\n";
const std::string kReadError = "読み込みエラーです。\n";

using DumpRun = test_support::ProgramRun;
using test_support::run_dump;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The block lines of the card images in tests/data: service code, block number, 13 × 5A.
std::string image_block(const std::string& service, int block) {
    char number[3];
    std::snprintf(number, sizeof number, "%02X", block);
    std::string line = " " + std::to_string(block) + ":\t" + service + number;
    for (int i = 0; i < 13; ++i) {
        line += "5A";
    }
    return line + "\n";
}

std::string image_box(int box, int blocks) {
    static const char* const services[] = {"008B", "090F", "108F", "10CB"};
    std::string text = kCaptions[box] + "\n";
    for (int j = 0; j < blocks; ++j) {
        text += image_block(services[box], j);
    }
    return text;
}

// " j:<TAB>" and 32 upper-case hex digits. (GoogleTest's regular expressions on Windows have
// neither [] nor {n}.)
bool is_dump_line(const std::string& line, int j) {
    const std::string head = " " + std::to_string(j) + ":\t";
    return line.size() == head.size() + 32 && line.starts_with(head) &&
           line.find_first_not_of("0123456789ABCDEF", head.size()) == std::string::npos;
}

// A run that read nothing prints no box at all.
const std::string kNothingRead;

TEST(VirudeDump, PrintsEveryBoxOfTheCardImage) {
    const DumpRun run = run_dump("sim:" + kData + "/cli_card.json");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, image_box(0, 1) + image_box(1, 20) + image_box(2, 3) + image_box(3, 2));
    EXPECT_EQ(run.err, "");
}

TEST(VirudeDump, PrintsTheDemoCard) {
    const DumpRun run = run_dump("sim");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.err, "");
    const auto lines = lines_of(run.out);
    ASSERT_EQ(lines.size(), 4u + 1 + 20 + 3 + 2);
    std::size_t at = 0;
    for (int box = 0; box < 4; ++box) {
        EXPECT_EQ(lines[at++], kCaptions[box]);
        const int blocks[] = {1, 20, 3, 2};
        for (int j = 0; j < blocks[box]; ++j, ++at) {
            EXPECT_TRUE(is_dump_line(lines[at], j)) << "box " << box << ": " << lines[at];
        }
    }
    EXPECT_THAT(run.out, Not(HasSubstr("\r")));
}

TEST(VirudeDump, SilentCardIsNoCard) {
    const DumpRun run = run_dump("sim:" + kData + "/cli_card_silent.json");
    EXPECT_EQ(run.exit_code, 4);
    EXPECT_EQ(run.out, kNothingRead);
    EXPECT_EQ(run.err, kNoCard);
}

TEST(VirudeDump, CardLeavingDuringTheReadsIsAReadError) {
    // The card answers four frames, then leaves: polling, the read of 008B and the two read
    // commands of 090F's 20 blocks (at most 15 a frame); the read of 108F finds it gone.
    const DumpRun run = run_dump("sim:" + kData + "/cli_card_removed.json");
    EXPECT_EQ(run.exit_code, 5);
    EXPECT_EQ(run.out, image_box(0, 1) + image_box(1, 20));
    EXPECT_EQ(run.err, kReadError);
}

TEST(VirudeDump, NoUsableReaderIsNoReader) {
    for (const std::optional<std::string>& reader : std::vector<std::optional<std::string>>{
             std::nullopt, "", "pcsc", "bogus", "sim:", "sim:" + kData + "/no_such_card.json"}) {
        SCOPED_TRACE(reader.value_or("(unset)"));
        const DumpRun run = run_dump(reader);
        EXPECT_EQ(run.exit_code, 3);
        EXPECT_EQ(run.out, kNothingRead);
        EXPECT_EQ(run.err, kNoReader);
    }
}

TEST(VirudeDump, TraceShowsTraceAndDiagnosticLines) {
    const DumpRun silent = run_dump("sim:" + kData + "/cli_card_silent.json", {"--trace"});
    EXPECT_EQ(silent.exit_code, 4);
    EXPECT_EQ(silent.out, kNothingRead);
    const auto lines = lines_of(silent.err);
    EXPECT_THAT(lines, testing::Contains("felica error type: 0"));
    EXPECT_THAT(lines, testing::Contains("rw error type: 5"));  // timeout
    EXPECT_EQ(lines.back() + "\n", kNoCard);

    const DumpRun bogus = run_dump("bogus", {"--trace"});
    EXPECT_EQ(bogus.exit_code, 3);
    const auto bogus_lines = lines_of(bogus.err);
    EXPECT_THAT(bogus_lines, testing::Contains("Can't open reader writer."));
    // The library says why there is no reader, besides the command's own trace line.
    EXPECT_GE(bogus_lines.size(), 3u);
    EXPECT_EQ(bogus_lines.back() + "\n", kNoReader);
}

TEST(VirudeDump, BadUsage) {
    for (const char* argument : {"--bogus", "-x", "extra"}) {
        const DumpRun run = run_dump("sim", {argument});
        EXPECT_EQ(run.exit_code, 2) << argument;
        EXPECT_EQ(run.out, "") << argument;
        EXPECT_THAT(run.err, HasSubstr(argument));
        EXPECT_THAT(run.err, HasSubstr("Usage: virude-dump [--trace] [--help] [--version]"));
    }
}

TEST(VirudeDump, HelpAndVersion) {
    const DumpRun help = run_dump("bogus", {"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.err, "");
    for (const char* part : {"Usage: virude-dump [--trace] [--help] [--version]", "VIRUDE_READER",
                             "sim:PATH", "pcsc[:NAME]", "libnfc[:CONNSTRING]", "unset",
                             "3  no reader", "4  no card", "5  read error"}) {
        EXPECT_THAT(help.out, HasSubstr(part));
    }

    const DumpRun version = run_dump("bogus", {"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.err, "");
    EXPECT_EQ(version.out, "virude-dump " VIRUDE_VERSION "\n");
}

}  // namespace
