// The RC-S380 backend through real libusb-1.0, with the emulated reader under umockdev: reads,
// the faults a user meets, and virude-dump.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "felica/rcs380/rcs380_reader.h"
#include "support/click.h"
#include "support/program_run.h"
#include "tools/rcs380_emulator/usb_rcs380.h"

namespace {

using namespace std::chrono_literals;
using card::ClickOutcome;
using felica::RwError;
using port100::Fault;
using port100::UsbRcs380;
using port100::UsbSetup;
using test_support::Click;
using test_support::demo;
using test_support::ProgramRun;
using test_support::run_dump;
using ::testing::HasSubstr;

constexpr felica::Byte kInCommRf = 0x04;
constexpr felica::Byte kSetCommandType = 0x2A;  // the first command of opening the reader

UsbSetup with_card(std::vector<port100::FaultRule> faults = {}) {
    UsbSetup setup;
    setup.card = demo();
    setup.faults = std::move(faults);
    return setup;
}

felica::ReaderLibrary library_on(const UsbRcs380& reader) {
    return felica::ReaderLibrary([location = reader.location()](const felica::Deadline& deadline) {
        return felica::open_rcs380_reader(location, deadline);
    });
}

class Rcs380ThroughLibusb : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const auto why = port100::usb_emulation_unavailable()) {
            GTEST_SKIP() << *why;
        }
    }
};

TEST_F(Rcs380ThroughLibusb, ReadsTheCardAsTheSimulatedReaderDoes) {
    const Click expected = test_support::click_on_simulated_reader(demo());
    UsbSetup odd = with_card();  // RC-S380/P with other endpoints and 16-byte packets
    odd.product_id = 0x06C3;
    odd.in_endpoint = 0x84;
    odd.out_endpoint = 0x03;
    odd.packet_size = 16;
    for (const UsbSetup& setup : {with_card(), odd}) {
        SCOPED_TRACE(setup.packet_size);
        UsbRcs380 reader(setup);
        felica::ReaderLibrary library = library_on(reader);
        for (int i = 0; i < 2; ++i) {
            const Click got = test_support::click(library);
            EXPECT_EQ(got.outcome, ClickOutcome::success) << got.message;
            EXPECT_EQ(got.boxes, expected.boxes);
        }
        reader.inspect([&](const port100::Port100Model& model) {
            EXPECT_EQ(model.count(kInCommRf), 12);
            EXPECT_FALSE(model.field_on());
            // InSetRF (16 bytes) and the 2-block read (32) fill their last 16-byte packet: a
            // zero-length packet ends each.
            EXPECT_EQ(model.zero_length_packets(), setup.packet_size == 16 ? 4 : 0);
        });
    }
}

struct FaultCase {
    const char* name;
    UsbSetup setup;
    ClickOutcome outcome;
    RwError rw;
    std::function<void(UsbRcs380&)> repair = {};  // undoes a lasting cause
};

TEST_F(Rcs380ThroughLibusb, EachFaultEndsTheClickInTimeAndTheNextClickWorks) {
    const auto put_card_back = [](UsbRcs380& reader) { reader.place_card(demo()); };
    const auto on_first_read = [](Fault fault) { return with_card({{fault, kInCommRf, 2}}); };
    using enum ClickOutcome;
    using enum Fault;
    const RwError late = RwError::reader_timeout, malformed = RwError::malformed_response,
                  io = RwError::io_error;
    // clang-format off
    std::vector<FaultCase> cases = {
        {"no card", UsbSetup{}, no_card, RwError::timeout, put_card_back},
        {"command never answered",   on_first_read(no_answer),          read_error, late},
        {"answer crosses the abort", on_first_read(answer_after_abort), read_error, late},
        {"no ACK",                   on_first_read(no_ack),             read_error, late},
        {"bad LCS",                  on_first_read(bad_length_checksum), read_error, malformed},
        {"bad DCS",                  on_first_read(bad_data_checksum),  read_error, malformed},
        {"wrong response code",      on_first_read(wrong_response_code), read_error, malformed},
        {"status error",             on_first_read(status_error),       read_error, io},
        {"status error while polling", with_card({{status_error, kInCommRf, 1}}), no_card, io},
        {"bad DCS while opening", with_card({{bad_data_checksum, 0x2A, 1}}), no_reader,
         RwError::no_reader},
        {"kernel driver bound", with_card(), success, RwError::none},
        {"kernel driver refuses to let go", with_card(), no_reader, RwError::no_reader,
         [](UsbRcs380& reader) { reader.unload_kernel_driver(); }},
    };
    // clang-format on
    cases[cases.size() - 2].setup.kernel_driver_bound = true;
    cases.back().setup.kernel_driver_bound = true;
    cases.back().setup.kernel_driver_refuses = true;
    // The card taken away before each of the five reads.
    for (int answers = 1; answers <= 5; ++answers) {
        felica::CardFaults leaves;
        leaves.removed_after = answers;
        UsbSetup setup;
        setup.card = demo(leaves);
        cases.push_back(
            {"card taken away", setup, ClickOutcome::read_error, RwError::timeout, put_card_back});
    }

    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        UsbRcs380 reader(c.setup);
        felica::ReaderLibrary library = library_on(reader);
        test_support::expect_click(test_support::click(library), c.outcome, c.rw);
        reader.inspect([&](const port100::Port100Model& model) {
            EXPECT_EQ(model.faults_fired(), static_cast<int>(c.setup.faults.size()));
        });

        if (c.repair) {
            c.repair(reader);
        }
        const Click next = test_support::click(library);
        EXPECT_EQ(next.outcome, ClickOutcome::success) << next.message;
        EXPECT_EQ(next.boxes.size(), 4u);
    }
}

TEST_F(Rcs380ThroughLibusb, UnpluggedMidReadThenFoundAgainOncePluggedBackIn) {
    UsbRcs380 reader(with_card({{Fault::unplugged, kInCommRf, 3}}));
    felica::ReaderLibrary library = library_on(reader);

    const Click failed = test_support::click(library);
    test_support::expect_click(failed, ClickOutcome::read_error, RwError::io_error);
    EXPECT_EQ(failed.boxes.size(), 1u);  // 008B was read before

    EXPECT_EQ(test_support::click(library).outcome, ClickOutcome::no_reader);
    reader.plug_back_in();
    EXPECT_EQ(test_support::click(library).outcome, ClickOutcome::success);
}

TEST_F(Rcs380ThroughLibusb, OnceTheClicksTimeIsSpentTheReaderIsLetGoWithoutWaiting) {
    UsbSetup setup = with_card({{Fault::no_answer, kInCommRf, 1}});
    setup.kernel_driver_bound = true;
    UsbRcs380 reader(setup);
    // 100 ms: less than the unanswered polling's own wait (its 20 ms plus 100 ms on the USB).
    felica::ReaderLibrary library(
        [location = reader.location()](const felica::Deadline& deadline) {
            return felica::open_rcs380_reader(location, deadline);
        },
        {}, 100ms);
    const Click failed = test_support::click(library);
    EXPECT_EQ(failed.rw, RwError::reader_timeout);
    EXPECT_LT(failed.took, 400ms);
    // Giving the reader back to its kernel driver would have the driver talk to it.
    EXPECT_FALSE(reader.kernel_driver_bound());
}

// virude-dump finds the reader, or the one at the bus and device named; it takes the reader
// from the kernel's port100 driver for the run and gives it back, or says how to unload it.
TEST_F(Rcs380ThroughLibusb, VirudeDumpPrintsWhatTheSimulatedReaderPrints) {
    const ProgramRun simulated = run_dump("sim");
    ASSERT_EQ(simulated.exit_code, 0);
    UsbSetup setup = with_card();
    setup.kernel_driver_bound = true;
    {
        UsbRcs380 reader(setup);
        // Listed with the spec that chooses it, its bus and device, and nothing sent to it.
        const ProgramRun listed = run_dump(std::nullopt, {"--list-readers"});
        EXPECT_EQ(listed.exit_code, 0);
        EXPECT_THAT(listed.out, HasSubstr("rcs380:1:5\tSony RC-S380/S\tbus 001 device 005\n"));
        reader.inspect(
            [](const port100::Port100Model& model) { EXPECT_EQ(model.count(kSetCommandType), 0); });
        for (const std::string setting : {"rcs380", "rcs380:1:5"}) {
            const ProgramRun run = run_dump(setting);
            EXPECT_EQ(run.exit_code, 0) << setting;
            EXPECT_EQ(run.out, simulated.out) << setting;
            EXPECT_EQ(run.err, "") << setting;
        }
        const ProgramRun other = run_dump("rcs380:1:6");
        EXPECT_EQ(other.exit_code, 3);
        EXPECT_EQ(other.err,
                  "パソリを接続してください。\nvirude-dump: could not open a reader: no RC-S380 "
                  "at bus 001 device 006 (see lsusb -d 054c:)\n");
        const ProgramRun traced = run_dump("rcs380", {"--trace"});
        EXPECT_THAT(traced.err, HasSubstr("Opened Sony RC-S380 at bus 001 device 005 (firmware "
                                          "1.11; kernel driver port100 detached)"));
        EXPECT_TRUE(reader.kernel_driver_bound());
    }
    setup.kernel_driver_refuses = true;
    UsbRcs380 stubborn(setup);
    const ProgramRun refused = run_dump("rcs380", {"--trace"});
    EXPECT_EQ(refused.exit_code, 3);
    EXPECT_THAT(refused.err, HasSubstr("sudo modprobe -r port100"));
    EXPECT_THAT(refused.err, HasSubstr("blacklist port100"));
}

}  // namespace
