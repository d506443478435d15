// Runs the built virude-dump against simulated and missing readers.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "felica/sim/card_image_file.h"
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

// The reader families of this build, as a mistyped setting's reason lists them.
#ifdef _WIN32
const std::string kExpectedReaders = "(expected sim[:PATH] or pcsc[:NAME])";
#else
const std::string kExpectedReaders =
    "(expected sim[:PATH], pcsc[:NAME], rcs380[:BUS:DEVICE] or libnfc[:CONNSTRING])";
#endif

// A run that read nothing prints no box at all.
const std::string kNothingRead;

TEST(VirudeDump, PrintsEveryBoxOfTheCardImage) {
    const DumpRun run = run_dump("sim:" + kData + "/cli_card.json");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, image_box(0, 1) + image_box(1, 20) + image_box(2, 3) + image_box(3, 2));
    EXPECT_EQ(run.err, "");
}

TEST(VirudeDump, FailuresPrintWhatWasReadTheMessageAndOneEnglishReason) {
    const DumpRun silent = run_dump("sim:" + kData + "/cli_card_silent.json");
    EXPECT_EQ(silent.exit_code, 4);
    EXPECT_EQ(silent.out, kNothingRead);
    EXPECT_EQ(silent.err, kNoCard +
                              "virude-dump: no card of system 0x802B answered on simulated reader "
                              "(card did not answer in time)\n");
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
    EXPECT_EQ(removed.err, kReadError +
                               "virude-dump: reading service 0x108F failed on simulated reader "
                               "(card removed)\n");

    // --verbose tells the reader and the card's identity on stderr; the dumps stay as they are.
    const DumpRun verbose = run_dump("sim:" + kData + "/cli_card_removed.json", {"-v"});
    EXPECT_EQ(verbose.out, removed.out);
    EXPECT_EQ(verbose.err,
              "reader: simulated reader\nIDm: 012E4CD3A1B2C3D4\n"
              "PMm: 0120220427674EFF\n" +
                  removed.err);
}

// A card image as virude-dump --json writes it is one the simulated reader loads, and reading
// it prints what reading the card printed: for a whole card and for a read that failed half-way.
TEST(VirudeDump, JsonIsACardImageOfWhatWasRead) {
    const std::string saved = testing::TempDir() + "virude_saved_" + std::to_string(getpid());
    for (const std::string& reader :
         {std::string("sim"), "sim:" + kData + "/cli_card_removed.json"}) {
        SCOPED_TRACE(reader);
        const DumpRun direct = run_dump(reader);
        const DumpRun json = run_dump(std::nullopt, {"--json", "--reader", reader});
        EXPECT_EQ(json.exit_code, direct.exit_code);
        EXPECT_EQ(json.err, direct.err);
        std::ofstream(saved, std::ios::binary) << json.out;
        const DumpRun replayed = run_dump("sim:" + saved);
        EXPECT_EQ(replayed.exit_code, direct.exit_code);
        EXPECT_EQ(replayed.out, direct.out);
        EXPECT_EQ(replayed.exit_code == 0, replayed.err.empty());

        const auto loaded = felica::load_card_image(saved);
        ASSERT_TRUE(std::holds_alternative<felica::LoadedCard>(loaded));
        const felica::LoadedCard& card = std::get<felica::LoadedCard>(loaded);
        EXPECT_EQ(card.reader, "simulated reader");
        ASSERT_TRUE(card.outcome);
        EXPECT_EQ(card.outcome->exit_code, direct.exit_code);
        if (direct.exit_code == 0) {
            EXPECT_EQ(card.image.services.size(), 4u);
            EXPECT_EQ(card.outcome->message, "");
            EXPECT_EQ(card.outcome->reason, "");
            EXPECT_TRUE(card.outcome->failed_services.empty());
        } else {
            EXPECT_EQ(card.image.services.size(), 2u);
            EXPECT_EQ(card.outcome->message + "\n", kReadError);
            EXPECT_EQ(card.outcome->rw_error_type, 6);  // card removed
            EXPECT_EQ(card.outcome->reason,
                      "reading service 0x108F failed on simulated reader (card removed)");
            EXPECT_EQ(card.outcome->failed_services, (std::vector<std::uint16_t>{0x108F, 0x10CB}));
        }
    }
    // No card answered: no document.
    const DumpRun none = run_dump("sim:" + kData + "/cli_card_silent.json", {"-j"});
    EXPECT_EQ(none.exit_code, 4);
    EXPECT_EQ(none.out, "");
    std::remove(saved.c_str());
}

TEST(VirudeDump, UnusableReaderSettingIsBadUsageAndSaysWhy) {
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
    // A card image from --json, edited by hand into nonsense.
    const std::string edited = testing::TempDir() + "virude_edited_" + std::to_string(getpid());
    std::ofstream(edited) << R"({"idm": "012E4CD3A1B2C3D4", "pmm": "0120220427674EFF", )"
                             R"("services": {}, "outcome": {"exit_code": "five"}})";

    const struct {
        std::string reader;
        std::string problem;
    } cases[] = {
        {"bogus\x1b[31m", "VIRUDE_READER: unknown reader \"bogus\\x1B[31m\" " + kExpectedReaders},
        {"SIM", "VIRUDE_READER: unknown reader \"SIM\""},
        {"sim:", "VIRUDE_READER: \"sim:\" has no PATH after the colon"},
        {"sim:" + missing, "card image " + missing + ": cannot open (No such file or directory)"},
#ifndef _WIN32
        // Neither read without end nor waited for.
        {"sim:/dev/zero", "card image /dev/zero: not a regular file"},
        {"sim:" + fifo, "card image " + fifo + ": not a regular file"},
#endif
        {"sim:" + big, "card image " + big + ": larger than 1024 KiB"},
        {"sim:" + overflow, "card image " + overflow + ": number overflow parsing '1e999'"},
        {"sim:" + key, "card image " + key + ": unknown key \"idm\\x1B[2J\""},
        {"sim:" + edited,
         "card image " + edited + ": \"exit_code\" must be a whole number from 0 to 255"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reader);
        const DumpRun run = run_dump(c.reader);
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_EQ(run.out, kNothingRead);
        // One line of what is wrong, control characters shown as escapes.
        EXPECT_THAT(run.err, testing::StartsWith("virude-dump: " + c.problem));
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
        EXPECT_THAT(run.err, Not(HasSubstr("\x1b")));
        // The same through --reader, which VIRUDE_READER cannot override.
        const DumpRun option = run_dump("sim", {"--reader", c.reader});
        EXPECT_EQ(option.exit_code, 2);
        EXPECT_THAT(option.err, HasSubstr(c.problem.starts_with("VIRUDE_READER: ")
                                              ? "--reader: " + c.problem.substr(15)
                                              : c.problem));
    }
    for (const std::string& path : {big, overflow, key, edited}) {
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
    const struct {
        std::vector<std::string> arguments;
        std::string problem;
    } mistakes[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-x"}, "unknown option '-x'"},
        {{"extra"}, "unexpected argument 'extra'"},
        {{"--", "-j"}, "unexpected argument '-j'"},
        {{"-j", "--json"}, "option -j, --json given twice"},
        {{"--reader"}, "option --reader needs SPEC"},
        {{"--json=yes"}, "option --json takes no argument"},
        {{"--wait=-1"}, "--wait: \"-1\" is not a number of seconds"},
        {{"-wabc"}, "--wait: \"abc\" is not a number of seconds"},
        {{"--wait", "--watch"}, "--wait and --watch cannot be given together"},
        {{"-l", "-j"}, "--list-readers takes none of"},
    };
    for (const auto& mistake : mistakes) {
        SCOPED_TRACE(mistake.arguments.front());
        const DumpRun run = run_dump("sim", mistake.arguments);
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_THAT(run.err, testing::StartsWith("virude-dump: " + mistake.problem));
        EXPECT_THAT(run.err, HasSubstr("\nUsage: virude-dump [-r SPEC] [-l] [-w[SECONDS]]"));
    }
    // Options in any order, grouped, and "--" at the end.
    EXPECT_EQ(run_dump("bogus", {"-vjr", "sim", "--"}).exit_code, 0);
    for (const char* help : {"--help", "-h"}) {
        const DumpRun run = run_dump("bogus", {help});
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_THAT(run.out, HasSubstr("Usage: virude-dump [-r SPEC]"));
    }
    for (const char* version : {"--version", "-V"}) {
        const DumpRun run = run_dump("bogus", {version});
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.out, "virude-dump " VIRUDE_VERSION "\n");
    }
}

// --wait gives up when its time is over, with the English reason of a wait.
TEST(VirudeDump, WaitEndsWhenItsTimeRunsOut) {
    const auto start = std::chrono::steady_clock::now();
    const DumpRun run = run_dump("sim:" + kData + "/cli_card_silent.json", {"--wait=0.6"});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.exit_code, 4);
    EXPECT_EQ(run.out, kNothingRead);
    EXPECT_EQ(run.err, kNoCard +
                           "virude-dump: no card of system 0x802B answered on simulated reader "
                           "within 0.6 s (card did not answer in time)\n");
    EXPECT_GE(took, std::chrono::milliseconds(600));
    // A card that is there is read at once.
    EXPECT_EQ(run_dump("sim", {"--wait"}).out, run_dump("sim").out);
}

}  // namespace
