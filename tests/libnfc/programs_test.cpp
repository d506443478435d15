// virude-dump and libnfc's own nfc-list against the emulated PN532, as separate programs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/click.h"
#include "support/program_run.h"
#include "tools/pn532_emulator/pn532_emulator.h"

namespace {

using test_support::ProgramRun;
using test_support::run_dump;
using test_support::run_program;
using ::testing::HasSubstr;

pn532::EmulatorSetup demo_reader(std::vector<pn532::FaultRule> faults = {}) {
    return {test_support::demo(), false, std::move(faults), {}};
}

TEST(NfcList, ListsTheEmulatedCard) {
    pn532::Emulator emulator(demo_reader());
    const ProgramRun run = run_program({NFC_LIST_PATH}, {{"LIBNFC_DEVICE", emulator.connstring()}});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("1 Felica (212 kbps) passive target(s) found"));
    EXPECT_THAT(run.out, HasSubstr("ID (NFCID2): 01  2e  4c  d3  a1  b2  c3  d4"));
    EXPECT_THAT(run.out, HasSubstr("System Code (SC): 80  2b"));
    EXPECT_GT(emulator.count(pn532::kInListPassiveTarget), 1);  // it tried other cards too
}

TEST(VirudeDumpThroughLibnfc, ReadsTheCardAsTheSimulatedReaderDoes) {
    pn532::Emulator emulator(demo_reader());
    const ProgramRun simulated = run_dump("sim");
    ASSERT_EQ(simulated.exit_code, 0);
    for (const std::string& setting : {"libnfc:" + emulator.connstring(), std::string("libnfc")}) {
        SCOPED_TRACE(setting);
        // Plain "libnfc" reaches the emulator as libnfc's default device.
        const ProgramRun run =
            run_program({VIRUDE_DUMP_PATH},
                        {{"VIRUDE_READER", setting}, {"LIBNFC_DEVICE", emulator.connstring()}});
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.out, simulated.out);
        EXPECT_EQ(run.err, "");  // libnfc's own log lines stay off
    }
}

// Listed with its connection string as libnfc names it, and the listed spec reads the card.
TEST(VirudeDumpThroughLibnfc, ListsTheDeviceWithASpecThatReadsIt) {
    pn532::Emulator emulator(demo_reader());
    const std::map<std::string, std::string> environment = {
        {"LIBNFC_DEVICE", emulator.connstring()}};
    const ProgramRun listed = run_program({VIRUDE_DUMP_PATH, "--list-readers"}, environment);
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    const std::string spec = "libnfc:" + emulator.connstring();
    EXPECT_THAT(listed.out, HasSubstr(spec + "\t"));
    EXPECT_THAT(listed.out, HasSubstr("\t" + emulator.connstring() + "\n"));
    EXPECT_EQ(emulator.count(pn532::kInListPassiveTarget), 0);  // no card was looked for
    const ProgramRun run = run_program({VIRUDE_DUMP_PATH, "--reader", spec}, environment);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, run_dump("sim").out);
}

// Whether the reader answers with an error, makes libnfc abort() or makes it loop for ever,
// virude-dump lives on to print the read error.
TEST(VirudeDumpThroughLibnfc, ReadErrorPrintsTheMessageAndTheReason) {
    for (const pn532::Fault fault :
         {pn532::Fault::error_frame, pn532::Fault::nad_status, pn532::Fault::more_information}) {
        SCOPED_TRACE(static_cast<int>(fault));
        pn532::Emulator emulator(demo_reader({{fault, pn532::kInDataExchange, 3}}));
        const ProgramRun run = run_dump("libnfc:" + emulator.connstring());
        EXPECT_EQ(run.exit_code, 5);
        EXPECT_THAT(run.err, ::testing::StartsWith("読み込みエラーです。\nvirude-dump: reading "
                                                   "service 0x090F failed on libnfc "));
        // 008B was read; 090F's second command (its last 5 blocks) failed.
        EXPECT_THAT(run.out, HasSubstr("0x008Bの内容\n 0:\t008B"));
        EXPECT_THAT(run.out, ::testing::Not(HasSubstr("0x090F")));
    }
}

}  // namespace
