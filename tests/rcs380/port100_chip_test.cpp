// The Port-100 command layer and the RC-S380 backend against the chip's model behind the
// bulk pipe interface, in process.
#include "felica/rcs380/port100_chip.h"

#include <gtest/gtest.h>

#include "felica/rcs380/rcs380_reader.h"
#include "support/click.h"
#include "tools/rcs380_emulator/model_pipe.h"

namespace felica::rcs380 {
namespace {

using namespace std::chrono_literals;
using port100::Fault;
using port100::ModelPipe;
using port100::Port100Model;
using test_support::demo;

const Bytes kAckFrame(kAck.begin(), kAck.end());

OpenedReader open_on(Port100Model& model, const Deadline& deadline = {}) {
    return open_rcs380_on_pipe(std::make_unique<ModelPipe>(model), "test", "", deadline);
}

Bytes hex(std::string_view text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(static_cast<Byte>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

TEST(Rcs380Backend, ClickSendsTheTracedSetUpAndReadsAsTheSimulatedReader) {
    Port100Model model;
    model.place_card(demo());
    ReaderLibrary library([&model](const Deadline& deadline) { return open_on(model, deadline); });

    const test_support::Click click = test_support::click(library);
    EXPECT_EQ(click.outcome, card::ClickOutcome::success) << click.message;
    EXPECT_EQ(click.boxes, test_support::click_on_simulated_reader(demo()).boxes);

    const std::vector<Bytes>& sent = model.host_transfers();
    ASSERT_GE(sent.size(), 8u);
    EXPECT_EQ(sent[0], kAckFrame);  // reset
    EXPECT_EQ(sent[1], hex("0000FFFFFF0300FDD62A01FF00"));
    EXPECT_EQ(sent[2], hex("0000FFFFFF0200FED6200A00"));
    EXPECT_EQ(sent[3], hex("0000FFFFFF0300FDD606002400"));
    EXPECT_EQ(sent[4], hex("0000FFFFFF0600FAD60001010F011800"));
    EXPECT_EQ(sent[5], hex("0000FFFFFF2800D8D60200180101020103000400050006000708080009000A00"
                           "0B000C000E040F0010001100120013064B00"));
    // One polling and five reads (1 + 15 + 5 + 3 + 2 blocks), then the field off and an ACK.
    EXPECT_EQ(model.count(0x04), 6);
    EXPECT_EQ(sent[sent.size() - 2], sent[3]);
    EXPECT_EQ(sent.back(), kAckFrame);
    EXPECT_FALSE(model.field_on());
}

TEST(Rcs380Backend, InCommRfCarriesTheTimeoutInTenthsOfAMillisecond) {
    CardImage image = demo_card();
    image.idm = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    Port100Model model;
    model.place_card(std::make_shared<SimulatedCard>(image));
    ModelPipe pipe(model);
    Port100Chip chip(pipe, Deadline{});
    ASSERT_TRUE(chip.set_command_type(1).ok());
    ASSERT_TRUE(chip.in_set_rf_212f().ok());

    const ChipResult polled = chip.in_comm_rf(hex("0600802B0100"), 11ms);
    ASSERT_TRUE(polled.ok()) << polled.detail;
    EXPECT_EQ(model.host_transfers().back(), hex("0000FFFFFF0A00F6D6046E000600802B01000600"));
    EXPECT_EQ(polled.data.size(), 20u);  // LEN 01 IDm PMm system code

    const ChipResult read = chip.in_comm_rf(hex("10060123456789ABCDEF018B00018000"), 101ms);
    ASSERT_TRUE(read.ok()) << read.detail;
    EXPECT_EQ(model.host_transfers().back(),
              hex("0000FFFFFF1400ECD604F20310060123456789ABCDEF018B000180004E00"));
    EXPECT_EQ(read.data.size(), 13u + 16u);

    EXPECT_EQ(rf_timeout_units(0us), (std::array<Byte, 2>{0x01, 0x00}));
    EXPECT_EQ(rf_timeout_units(10s), (std::array<Byte, 2>{0xFF, 0xFF}));
}

TEST(Rcs380Backend, AnAnswerTooLateIsAbortedDrainedAndNeverTakenForAnother) {
    Port100Model model;
    model.place_card(demo());
    model.add_fault({Fault::answer_after_abort, 0x04, 2});  // the first read
    OpenedReader opened = open_on(model);
    ASSERT_TRUE(opened.backend) << opened.reason;
    ReaderBackend& reader = *opened.backend;
    const Transfer polled = reader.poll(build_polling(kSystemCode, RequestCode::none, 0), 20ms);
    ASSERT_TRUE(polled.ok());

    Idm idm{};
    std::copy_n(polled.response.begin() + 2, idm.size(), idm.begin());
    const Bytes read = build_read_without_encryption(idm, Bytes{0x8B, 0x00}, Bytes{0x80, 0x00}, 1);
    const Transfer late = reader.exchange(read, 20ms);
    EXPECT_EQ(late.error, RwError::reader_timeout);
    EXPECT_EQ(model.host_transfers().back(), kAckFrame);  // the abort
    EXPECT_FALSE(model.next_due());                       // the late answer was read away

    const std::size_t sent = model.host_transfers().size();
    EXPECT_FALSE(reader.exchange(read, 20ms).ok());
    EXPECT_EQ(model.host_transfers().size(), sent);  // nothing more reaches the chip
    reader.close();
    EXPECT_EQ(model.host_transfers().size(), sent + 2);  // but the field goes off
    EXPECT_FALSE(model.field_on());

    ReaderLibrary library([&model](const Deadline& deadline) { return open_on(model, deadline); });
    EXPECT_EQ(test_support::click(library).outcome, card::ClickOutcome::success);
}

TEST(Rcs380Backend, NoWaitOutlastsTheDeadlineAndCloseThenSendsNothing) {
    Port100Model model;
    model.place_card(demo());
    model.add_fault({Fault::no_answer, 0x04, 1});
    const Deadline deadline = Deadline::after(150ms);
    OpenedReader opened = open_on(model, deadline);
    ASSERT_TRUE(opened.backend) << opened.reason;

    // The polling's own waits (1 s here) would run far past the deadline.
    const auto start = std::chrono::steady_clock::now();
    const Transfer polled =
        opened.backend->poll(build_polling(kSystemCode, RequestCode::none, 0), 1s);
    EXPECT_EQ(polled.error, RwError::reader_timeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms);
    const std::size_t sent = model.host_transfers().size();
    opened.backend->close();
    EXPECT_EQ(model.host_transfers().size(), sent);
}

}  // namespace
}  // namespace felica::rcs380
