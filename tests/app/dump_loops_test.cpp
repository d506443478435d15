// virude-dump --wait and --watch as a user drives them: cards put on and taken off a simulated
// reader (the card image file it loads at every look, rewritten while the program runs), and
// Ctrl-C. Linux: the program runs in the background.
#ifndef _WIN32
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "felica/sim/card_image_file.h"
#include "support/program_run.h"
#include "support/running_program.h"

namespace {

using namespace std::chrono_literals;
using test_support::RunningProgram;
using ::testing::HasSubstr;

const std::string kData = VIRUDE_TEST_DATA;

felica::LoadedCard card_of(const std::string& file) {
    auto loaded = felica::load_card_image(kData + "/" + file);
    return std::get<felica::LoadedCard>(loaded);
}

// The simulated reader's card image file: a card is put on it by writing the card's image (at
// once, by renaming), taken away by writing a card that never answers.
class SimulatedReader {
  public:
    SimulatedReader()
        : path_(testing::TempDir() + "virude_reader_" + std::to_string(getpid()) + ".json") {
        take_away();
    }
    ~SimulatedReader() { std::remove(path_.c_str()); }

    std::string spec() const { return "sim:" + path_; }

    void put(const felica::LoadedCard& card) {
        const std::string next = path_ + ".next";
        std::ofstream(next, std::ios::binary) << felica::card_image_json(card);
        std::rename(next.c_str(), path_.c_str());
    }
    void take_away() {
        felica::LoadedCard nothing = card_of("cli_card.json");
        nothing.faults.silent = true;
        put(nothing);
    }

  private:
    std::string path_;
};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

auto has_lines(std::size_t count) {
    return [count](const std::string& out) { return lines_of(out).size() >= count; };
}

TEST(VirudeDumpLoops, WatchReadsEachPlacementOnceAndGoesOnAfterAFailedRead) {
    const felica::LoadedCard first = card_of("cli_card.json");
    felica::LoadedCard second = card_of("cli_card_removed.json");  // leaves during its read
    second.image.idm[7] = 0x99;
    SimulatedReader reader;
    reader.put(first);
    RunningProgram watch({VIRUDE_DUMP_PATH, "--watch", "--json", "--reader", reader.spec()}, {});
    ASSERT_TRUE(watch.wait_for_output(has_lines(1), 5s));
    std::this_thread::sleep_for(800ms);  // left on the reader: not read again
    reader.put(second);                  // another card in its place
    ASSERT_TRUE(watch.wait_for_output(has_lines(2), 5s));
    reader.take_away();
    std::this_thread::sleep_for(800ms);
    reader.put(first);  // the first card once more
    ASSERT_TRUE(watch.wait_for_output(has_lines(3), 5s));
    std::this_thread::sleep_for(800ms);
    watch.interrupt();
    const test_support::ProgramRun run = watch.finish(5s);

    EXPECT_EQ(run.exit_code, 130);
    const std::vector<std::string> documents = lines_of(run.out);
    ASSERT_EQ(documents.size(), 3u);
    const int expected_codes[] = {0, 5, 0};
    const felica::Idm expected_idms[] = {first.image.idm, second.image.idm, first.image.idm};
    for (std::size_t i = 0; i < documents.size(); ++i) {
        SCOPED_TRACE(i);
        const auto read = felica::parse_card_image(documents[i], "line");
        ASSERT_TRUE(std::holds_alternative<felica::LoadedCard>(read))
            << std::get<std::string>(read);
        const felica::LoadedCard& card = std::get<felica::LoadedCard>(read);
        EXPECT_EQ(card.image.idm, expected_idms[i]);
        ASSERT_TRUE(card.outcome);
        EXPECT_EQ(card.outcome->exit_code, expected_codes[i]);
    }
    // The failed read said why, and the watch went on.
    EXPECT_THAT(run.err, HasSubstr("virude-dump: reading service 0x108F failed on simulated "
                                   "reader (card removed)\n"));
}

TEST(VirudeDumpLoops, WaitReadsTheCardThatComesAndCtrlCEndsIt) {
    SimulatedReader reader;
    RunningProgram waiting({VIRUDE_DUMP_PATH, "--wait", "--reader", reader.spec()}, {});
    std::this_thread::sleep_for(700ms);
    reader.put(card_of("cli_card.json"));
    const test_support::ProgramRun run = waiting.finish(5s);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, test_support::run_dump("sim:" + kData + "/cli_card.json").out);
    EXPECT_EQ(run.err, "");

    reader.take_away();
    RunningProgram interrupted({VIRUDE_DUMP_PATH, "--wait=60", "--reader", reader.spec()}, {});
    std::this_thread::sleep_for(500ms);
    interrupted.interrupt();
    const test_support::ProgramRun stopped = interrupted.finish(3s);
    EXPECT_EQ(stopped.exit_code, 130);
    EXPECT_EQ(stopped.out, "");
    EXPECT_EQ(stopped.err, "virude-dump: interrupted while waiting for a card\n");
}

}  // namespace
#endif
