// Runs the built virude-dump against simulated and missing readers.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/program_run.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kData = VIRUDE_TEST_DATA;
const std::string kCaptions[] = {"0x008Bの内容", "0x090Fの内容", "0x108Fの内容", "0x10CBの内容"};
const std::string kNoReader = "パソリを接続してください。\n";
const std::string kNoCard = "ゆるかのをパソリにおいてください。\n";
const std::string kReadError = "読み込みエラーです。\n";

using DumpRun = test_support::ProgramRun;
using test_support::run_dump;

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

// A run that read nothing prints no box at all.
const std::string kNothingRead;

TEST(VirudeDump, PrintsEveryBoxOfTheCardImage) {
    const DumpRun run = run_dump("sim:" + kData + "/cli_card.json");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, image_box(0, 1) + image_box(1, 20) + image_box(2, 3) + image_box(3, 2));
    EXPECT_EQ(run.err, "");
}

TEST(VirudeDump, NoCardOrCardLeavingPrintsWhatWasRead) {
    const DumpRun silent = run_dump("sim:" + kData + "/cli_card_silent.json");
    EXPECT_EQ(silent.exit_code, 4);
    EXPECT_EQ(silent.out, kNothingRead);
    EXPECT_EQ(silent.err, kNoCard);
    // With --trace, the trace and diagnostic lines come before the message.
    const DumpRun traced = run_dump("sim:" + kData + "/cli_card_silent.json", {"--trace"});
    EXPECT_EQ(traced.exit_code, 4);
    EXPECT_THAT(traced.err, HasSubstr("Opened simulated reader\n"));
    EXPECT_THAT(traced.err, HasSubstr("felica error type: 0\nrw error type: 5\n" + kNoCard));

    // The card answers four frames, then leaves: polling, the read of 008B and the two read
    // commands of 090F's 20 blocks (at most 15 a frame); the read of 108F finds it gone.
    const DumpRun removed = run_dump("sim:" + kData + "/cli_card_removed.json");
    EXPECT_EQ(removed.exit_code, 5);
    EXPECT_EQ(removed.out, image_box(0, 1) + image_box(1, 20));
    EXPECT_EQ(removed.err, kReadError);
}

TEST(VirudeDump, UnusableReaderSettingIsNoReaderAndSaysWhy) {
    const std::string missing = kData + "/no_such_card.json";
#ifndef _WIN32
    const std::string fifo = testing::TempDir() + "virude_fifo_" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
#endif
    const std::string big = testing::TempDir() + "virude_big_" + std::to_string(getpid());
    std::ofstream(big) << std::string(1024 * 1024 + 1, ' ');
    const std::string overflow = testing::TempDir() + "virude_overflow_" + std::to_string(getpid());
    std::ofstream(overflow) << R"({"idm": 1e999})";
    const std::string key = testing::TempDir() + "virude_key_" + std::to_string(getpid());
    std::ofstream(key) << R"({"idm\u001b[2J": 1})";

    const struct {
        std::string reader;
        std::string problem;
    } cases[] = {
        {"bogus\x1b[31m",
         "unknown VIRUDE_READER value \"bogus\\x1B[31m\" (expected sim, sim:PATH, "
         "pcsc[:NAME], rcs380[:BUS:DEVICE] or libnfc[:CONNSTRING])"},
        {"sim:", "VIRUDE_READER=sim: names no card image file"},
        {"sim:" + missing, "card image " + missing + ": cannot open (No such file or directory)"},
#ifndef _WIN32
        // Neither read without end nor waited for.
        {"sim:/dev/zero", "card image /dev/zero: not a regular file"},
        {"sim:" + fifo, "card image " + fifo + ": not a regular file"},
#endif
        {"sim:" + big, "card image " + big + ": larger than 1024 KiB"},
        {"sim:" + overflow, "card image " + overflow + ": number overflow parsing '1e999'"},
        {"sim:" + key, "card image " + key + ": unknown key \"idm\\x1B[2J\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reader);
        const DumpRun run = run_dump(c.reader);
        EXPECT_EQ(run.exit_code, 3);
        EXPECT_EQ(run.out, kNothingRead);
        // One line of what is wrong, control characters shown as escapes, then the message.
        EXPECT_EQ(run.err, "virude-dump: " + c.problem + "\n" + kNoReader);
        const DumpRun traced = run_dump(c.reader, {"--trace"});
        EXPECT_THAT(traced.err, HasSubstr("Can't open a reader: " + c.problem + "\n"));
        EXPECT_THAT(traced.err, Not(HasSubstr("virude-dump: ")));
        EXPECT_THAT(traced.err, Not(HasSubstr("\x1b")));
    }
    for (const std::string& path : {big, overflow, key}) {
        std::remove(path.c_str());
    }
#ifndef _WIN32
    std::remove(fifo.c_str());
#endif
}

TEST(VirudeDump, OutputThatCannotBeWrittenFailsTheRun) {
    using test_support::StandardOutput;
#ifdef _WIN32
    // A pipe nobody reads (Windows has no full device); the C runtime names no reason.
    // Without a standard output handle the C runtime drops the output unseen (under Wine),
    // so that case is left out.
    const auto outputs = {StandardOutput::full_device};
    const std::string says = "virude-dump: cannot write to standard output";
#else
    const auto outputs = {StandardOutput::full_device, StandardOutput::closed};
    const std::string says = "virude-dump: cannot write to standard output (";
#endif
    for (const auto output : outputs) {
        for (const std::vector<std::string>& arguments :
             {std::vector<std::string>{}, {"--help"}, {"--version"}}) {
            const DumpRun run = run_dump("sim", arguments, output);
            EXPECT_EQ(run.exit_code, 1);
            EXPECT_THAT(run.err, HasSubstr(says));
        }
    }
}

TEST(VirudeDump, UsageHelpAndVersion) {
    for (const char* argument : {"--bogus", "extra"}) {
        const DumpRun run = run_dump("sim", {argument});
        EXPECT_EQ(run.exit_code, 2) << argument;
        EXPECT_EQ(run.out, "") << argument;
        EXPECT_THAT(run.err, HasSubstr(argument));
        EXPECT_THAT(run.err, HasSubstr("Usage: virude-dump [--trace] [--help] [--version]"));
    }
    const DumpRun help = run_dump("bogus", {"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_THAT(help.out, HasSubstr("Usage: virude-dump [--trace] [--help] [--version]"));
    const DumpRun version = run_dump("bogus", {"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, "virude-dump " VIRUDE_VERSION "\n");
}

}  // namespace
