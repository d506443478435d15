// The PC/SC backend through a real pcscd: Debian's vpcd driver with the virtual card behind
// it, as an RC-S300, an ACR122U and an ACR1252U. Clicks run in this process (the window's
// path) or as virude-dump (the command line's).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "card/messages.h"
#include "felica/reader_selection.h"
#include "felica/sim/card_image_file.h"
#include "pcscd/sandbox.h"
#include "support/click.h"
#include "support/program_run.h"
#include "support/running_program.h"
#include "tools/vpcd_card/vpcd_card.h"

namespace {

using namespace std::chrono_literals;
using card::ClickOutcome;
using felica::RwError;
using pcscd_test::Pcscd;
using test_support::Click;
using test_support::demo;
using test_support::expect_click;
using test_support::ProgramRun;
using test_support::run_dump;
using testing::HasSubstr;
using vpcd_card::LinkFault;
using vpcd_card::ReaderModel;
using vpcd_card::VpcdCard;

constexpr std::uint16_t kPort = vpcd_card::kDefaultPort;
// A generous bound on waits for pcscd and the card: it fails a test only when an event never
// comes.
constexpr auto kEventLimit = 10s;

std::string slot_name(std::string_view reader, int slot) {
    return std::string(reader) + " 00 0" + std::to_string(slot);
}

std::string message_line(std::string_view message) {
    return std::string(message) + "\n";
}

const ProgramRun& simulated_dump() {
    static const ProgramRun run = run_dump("sim");
    return run;
}

// Where the backend's calls began, in APDUs the virtual card had received by then: before
// the first exchange they belong to polling, from close on to ending the session.
struct Stages {
    int first_exchange = -1;
    int close = -1;
};

// Passes every call on to the PC/SC backend and notes where each stage began.
class StageRecorder final : public felica::ReaderBackend {
  public:
    StageRecorder(std::unique_ptr<ReaderBackend> inner, const VpcdCard& card, Stages& stages)
        : inner_(std::move(inner)), card_(card), stages_(stages) {}

    std::string name() const override { return inner_->name(); }
    int max_blocks_per_read() const override { return inner_->max_blocks_per_read(); }
    std::chrono::microseconds overhead() const override { return inner_->overhead(); }
    felica::Transfer poll(felica::ByteView frame, std::chrono::microseconds timeout) override {
        return inner_->poll(frame, timeout);
    }
    felica::Transfer exchange(felica::ByteView frame, std::chrono::microseconds timeout) override {
        if (stages_.first_exchange < 0) {
            stages_.first_exchange = card_.stats().apdus;
        }
        return inner_->exchange(frame, timeout);
    }
    void close() override {
        stages_.close = card_.stats().apdus;
        inner_->close();
    }

  private:
    std::unique_ptr<ReaderBackend> inner_;
    const VpcdCard& card_;
    Stages& stages_;
};

// One click on READ, as the window makes it, through VIRUDE_READER=pcsc.
Click click(const VpcdCard* card = nullptr, Stages* stages = nullptr) {
    felica::ReaderLibrary library([card, stages](const felica::Deadline& deadline) {
        felica::OpenedReader opened = felica::open_reader(std::string("pcsc"), deadline);
        if (opened.backend && card && stages) {
            opened.backend =
                std::make_unique<StageRecorder>(std::move(opened.backend), *card, *stages);
        }
        return opened;
    });
    return test_support::click(library);
}

class PcscdTest : public testing::Test {
  protected:
    void SetUp() override {
        const pcscd_test::Sandbox& sandbox = pcscd_test::sandbox();
        if (sandbox.skip) {
            GTEST_SKIP() << "no private namespaces for pcscd: " << sandbox.problem;
        }
        ASSERT_TRUE(sandbox.entered) << sandbox.problem;
    }

    void TearDown() override {
        card_.reset();
        if (HasFailure() && pcscd_) {
            std::cerr << "pcscd's log:\n" << pcscd_->log();
        }
        pcscd_.reset();
    }

    // Starts pcscd with `reader`, puts the card on its slot and waits until pcscd sees it.
    VpcdCard& put_card(ReaderModel model, const std::string& reader, int slot = 0) {
        if (!pcscd_) {
            pcscd_.emplace(reader, kPort);
        }
        first_card_ = demo();
        card_ = std::make_unique<VpcdCard>(model, first_card_,
                                           static_cast<std::uint16_t>(kPort + slot));
        card_->insert();
        EXPECT_TRUE(pcscd_test::wait_for_card(slot_name(reader, slot), kEventLimit));
        return *card_;
    }

    std::optional<Pcscd> pcscd_;
    std::shared_ptr<felica::SimulatedCard> first_card_;  // the card put_card puts on the reader
    std::unique_ptr<VpcdCard> card_;
};

TEST_F(PcscdTest, NoReaderWithoutPcscdOrWithoutReaders) {
    expect_click(click(), ClickOutcome::no_reader, RwError::no_service);
    for (const auto& setting : {std::optional<std::string>(), std::optional<std::string>("pcsc")}) {
        const ProgramRun run = run_dump(setting);
        EXPECT_EQ(run.exit_code, 3);
        EXPECT_THAT(run.err, testing::StartsWith(message_line(card::kMessageNoReader) +
                                                 "virude-dump: could not open a reader: "));
        EXPECT_THAT(run.err, HasSubstr("SCARD_E_NO_SERVICE"));
        EXPECT_EQ(run.out, "");
    }
    // The list says why PC/SC could not be asked.
    const ProgramRun listed = run_dump(std::nullopt, {"--list-readers"});
    EXPECT_THAT(listed.err, HasSubstr("virude-dump: PC/SC: service not running "
                                      "(SCardEstablishContext: SCARD_E_NO_SERVICE)\n"));
    // Then the RC-S380 and libnfc are tried.
    EXPECT_THAT(run_dump(std::nullopt, {"--trace"}).err,
                testing::ContainsRegex("no reader found \\(PC/SC: SCardEstablishContext: "
                                       "SCARD_E_NO_SERVICE; [^;]*RC-S380[^;]*; libnfc"));

    pcscd_.emplace(std::nullopt, kPort);
    expect_click(click(), ClickOutcome::no_reader, RwError::no_reader);
    const ProgramRun run = run_dump("pcsc", {"--trace"});
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_THAT(run.err, HasSubstr("SCARD_E_NO_READERS_AVAILABLE"));
}

TEST_F(PcscdTest, AsksForTheCardThenPicksTheSlotWithTheCardOrTheOneNamed) {
    const std::string reader(vpcd_card::friendly_name(ReaderModel::rcs300));
    pcscd_.emplace(reader, kPort);
    expect_click(click(), ClickOutcome::no_card, RwError::timeout);
    const ProgramRun empty = run_dump(std::nullopt);
    EXPECT_EQ(empty.exit_code, 4);
    EXPECT_EQ(empty.err, message_line(card::kMessageNoCard) +
                             "virude-dump: no card of system 0x802B answered on PC/SC reader \"" +
                             slot_name(reader, 0) + "\" (card did not answer in time)\n");

    put_card(ReaderModel::rcs300, reader, 1);  // the second slot; the first stays empty
    expect_click(click(), ClickOutcome::success);
    const ProgramRun found = run_dump(std::nullopt, {"--trace"});
    EXPECT_EQ(found.exit_code, 0);
    EXPECT_EQ(found.out, simulated_dump().out);
    EXPECT_THAT(found.err, HasSubstr("Opened PC/SC reader \"" + slot_name(reader, 1) + "\""));
    // A name picks among the readers whose names contain it, whatever the case.
    const ProgramRun named = run_dump("pcsc:rc-s300/p 00 01");
    EXPECT_EQ(named.exit_code, 0);
    EXPECT_EQ(named.out, simulated_dump().out);

    const ProgramRun unknown = run_dump("pcsc:ACR122", {"--trace"});
    EXPECT_EQ(unknown.exit_code, 3);
    EXPECT_THAT(unknown.err, HasSubstr("no reader's name contains \"ACR122\""));
    EXPECT_THAT(unknown.err, HasSubstr(message_line(card::kMessageNoReader)));
}

// Every slot listed with the spec that chooses it, whether a card is on it and its ATR, and the
// dialect the reader's name points at; the spec pasted reads the card.
TEST_F(PcscdTest, ListsEachSlotWithASpecThatReadsIt) {
    const std::string reader(vpcd_card::friendly_name(ReaderModel::acr122u));
    put_card(ReaderModel::acr122u, reader, 1);
    const ProgramRun listed = run_dump(std::nullopt, {"--list-readers"});
    EXPECT_EQ(listed.exit_code, 0);
    const std::string empty_slot = slot_name(reader, 0);
    const std::string card_slot = slot_name(reader, 1);
    EXPECT_THAT(listed.out, HasSubstr("pcsc:" + empty_slot + "\t" + empty_slot +
                                      "\tno card, dialect PN532 direct transmit\n"));
    EXPECT_THAT(listed.out, testing::ContainsRegex("pcsc:" + card_slot + "\t" + card_slot +
                                                   "\tcard present, ATR 3B( [0-9A-F]{2})+, "
                                                   "dialect PN532 direct transmit\n"));
    const ProgramRun read = run_dump(std::nullopt, {"--reader", "pcsc:" + card_slot});
    EXPECT_EQ(read.exit_code, 0);
    EXPECT_EQ(read.out, simulated_dump().out);
}

// --wait reads the card put on the reader two seconds after it began; --watch reads three
// placements of two cards once each.
TEST_F(PcscdTest, WaitAndWatchReadTheCardsPutOnTheReader) {
    const std::string reader(vpcd_card::friendly_name(ReaderModel::rcs300));
    pcscd_.emplace(reader, kPort);
    test_support::RunningProgram waiting({VIRUDE_DUMP_PATH, "--wait=20", "-r", "pcsc"}, {});
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(waiting.out(), "");
    put_card(ReaderModel::rcs300, reader);
    const ProgramRun waited = waiting.finish(kEventLimit);
    EXPECT_EQ(waited.exit_code, 0) << waited.err;
    EXPECT_EQ(waited.out, simulated_dump().out);

    auto other = felica::demo_card();
    other.idm[7] = 0x77;
    test_support::RunningProgram watch({VIRUDE_DUMP_PATH, "--watch", "-j", "-r", "pcsc"}, {});
    const auto documents = [](std::size_t count) {
        return [count](const std::string& out) {
            return static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) >= count;
        };
    };
    ASSERT_TRUE(watch.wait_for_output(documents(1), kEventLimit));
    for (const auto& next : {demo(), std::make_shared<felica::SimulatedCard>(other)}) {
        std::this_thread::sleep_for(700ms);  // left on the reader: read once
        card_->remove();
        ASSERT_TRUE(card_->wait_until([](const vpcd_card::CardStats& s) { return !s.connected; },
                                      kEventLimit));
        // Away for longer than a click waits for a card put straight back.
        std::this_thread::sleep_for(1500ms);
        card_->replace_card(next);
        card_->insert();
        ASSERT_TRUE(pcscd_test::wait_for_card(slot_name(reader, 0), kEventLimit));
    }
    ASSERT_TRUE(watch.wait_for_output(documents(3), kEventLimit)) << watch.out();
    std::this_thread::sleep_for(700ms);
    watch.interrupt();
    const ProgramRun watched = watch.finish(kEventLimit);
    EXPECT_EQ(watched.exit_code, 130);
    std::istringstream lines(watched.out);
    std::vector<felica::Idm> idms;
    for (std::string line; std::getline(lines, line);) {
        const auto card = felica::parse_card_image(line, "line");
        ASSERT_TRUE(std::holds_alternative<felica::LoadedCard>(card)) << line;
        EXPECT_EQ(std::get<felica::LoadedCard>(card).outcome->exit_code, 0);
        idms.push_back(std::get<felica::LoadedCard>(card).image.idm);
    }
    EXPECT_EQ(idms, (std::vector<felica::Idm>{felica::demo_card().idm, felica::demo_card().idm,
                                              other.idm}));

    // The reader gone (here with the whole service): the watch ends, saying so.
    test_support::RunningProgram orphaned({VIRUDE_DUMP_PATH, "--watch", "-r", "pcsc"}, {});
    ASSERT_TRUE(
        orphaned.wait_for_output([](const std::string& out) { return !out.empty(); }, kEventLimit));
    card_.reset();
    pcscd_.reset();
    const ProgramRun ended = orphaned.finish(kEventLimit);
    EXPECT_EQ(ended.exit_code, 3);
    EXPECT_THAT(ended.err, HasSubstr("virude-dump: could not open a reader: PC/SC: "));
}

TEST_F(PcscdTest, HungPcscdIsAbandonedInTime) {
    const std::string reader(vpcd_card::friendly_name(ReaderModel::rcs300));
    put_card(ReaderModel::rcs300, reader);
    pcscd_->freeze();
    expect_click(click(), ClickOutcome::no_reader, RwError::reader_timeout);
    pcscd_->resume();
    // The abandoned call gets its answer and lets go of the service; the next click reads.
    ASSERT_TRUE(pcscd_test::wait_until_unused(slot_name(reader, 0), kEventLimit));
    expect_click(click(), ClickOutcome::success);
}

// ---- Each reader model ----

class EachReader : public PcscdTest, public testing::WithParamInterface<ReaderModel> {
  protected:
    std::string reader() const { return std::string(vpcd_card::friendly_name(GetParam())); }

    // Starts pcscd with the model's reader and the card on it, and makes a clean click that
    // tells which APDUs belong to which stage.
    Stages start_with_card() {
        put_card(GetParam(), reader());
        Stages stages;
        card_->arm({});
        expect_click(click(card_.get(), &stages), ClickOutcome::success);
        total_apdus_ = card_->stats().apdus;
        EXPECT_GT(stages.first_exchange, 0);
        EXPECT_GE(stages.close, stages.first_exchange);
        return stages;
    }

    // What a click meets when the APDU numbered `apdu` fails.
    static ClickOutcome outcome_at(const Stages& stages, int apdu) {
        if (apdu < stages.first_exchange) {
            return ClickOutcome::no_card;
        }
        return apdu < stages.close ? ClickOutcome::read_error : ClickOutcome::success;
    }

    void expect_next_click_reads() {
        card_->arm({});
        expect_click(click(), ClickOutcome::success);
    }

    int total_apdus_ = 0;  // of a whole click
};

INSTANTIATE_TEST_SUITE_P(Models, EachReader,
                         testing::Values(ReaderModel::rcs300, ReaderModel::acr122u,
                                         ReaderModel::acr1252u),
                         [](const testing::TestParamInfo<ReaderModel>& info) {
                             return std::string(vpcd_card::model_key(info.param));
                         });

TEST_P(EachReader, DumpReadsLikeTheSimulatedReaderWhateverItsName) {
    put_card(GetParam(), reader());
    ASSERT_EQ(simulated_dump().exit_code, 0);
    // Found automatically, as any PC/SC reader, and by a part of its name.
    const std::string name_part = GetParam() == ReaderModel::rcs300    ? "rc-s300"
                                  : GetParam() == ReaderModel::acr122u ? "acr122u picc"
                                                                       : "acr1252 dual";
    for (const auto& setting : {std::optional<std::string>(), std::optional<std::string>("pcsc"),
                                std::optional<std::string>("pcsc:" + name_part)}) {
        SCOPED_TRACE(setting.value_or("(unset)"));
        const ProgramRun run = run_dump(setting);
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.out, simulated_dump().out);
        EXPECT_EQ(run.err, "");
    }
    // The reader's name told its dialect: nothing else was tried on it.
    EXPECT_EQ(card_->stats().refused, 0);

    // Under Debian's own name for the vpcd reader, the dialect is found by trying.
    card_.reset();
    pcscd_.reset();
    put_card(GetParam(), "Virtual PCD");
    const ProgramRun probed = run_dump(std::nullopt);
    EXPECT_EQ(probed.exit_code, 0);
    EXPECT_EQ(probed.out, simulated_dump().out);
}

TEST_P(EachReader, CardLeavingTheFieldOrNotAnswering) {
    start_with_card();
    ASSERT_EQ(first_card_->exchanges(), 6);  // polling and five reads
    struct Case {
        std::string name;
        felica::CardFaults faults;
        ClickOutcome outcome;
        RwError rw;
    };
    std::vector<Case> cases(2);
    cases[0] = {"silent card", {}, ClickOutcome::no_card, RwError::timeout};
    cases[0].faults.silent = true;
    cases[1] = {"answers from another card", {}, ClickOutcome::read_error, RwError::wrong_idm};
    cases[1].faults.garble = felica::Garble::wrong_idm;
    // The card leaves after answering `answered` frames; the reader sees it no more.
    for (int answered = 0; answered < 6; ++answered) {
        cases.push_back({"leaves after " + std::to_string(answered),
                         {},
                         answered == 0 ? ClickOutcome::no_card : ClickOutcome::read_error,
                         RwError::timeout});
        cases.back().faults.removed_after = answered;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        card_->replace_card(demo(c.faults));
        expect_click(click(), c.outcome, c.rw);
        card_->replace_card(demo());
        expect_next_click_reads();
    }
}

TEST_P(EachReader, MalformedReaderAnswersAtEachApdu) {
    const Stages stages = start_with_card();
    for (const LinkFault::Kind kind : {LinkFault::Kind::bad_status, LinkFault::Kind::truncated}) {
        for (int apdu = 0; apdu < total_apdus_; ++apdu) {
            SCOPED_TRACE(
                (kind == LinkFault::Kind::bad_status ? "6F 00 at APDU " : "1 byte at APDU ") +
                std::to_string(apdu));
            card_->arm({kind, apdu, {}});
            const ClickOutcome expected = outcome_at(stages, apdu);
            // Ending the session is not the dump's concern: a fault there leaves a success.
            expect_click(click(), expected,
                         expected == ClickOutcome::success
                             ? std::nullopt
                             : std::optional(RwError::malformed_response));
            expect_next_click_reads();
        }
    }
}

TEST_P(EachReader, CardTakenAwayAndPutBack) {
    const Stages stages = start_with_card();
    // While polling, at the first read, and at the last APDU of the reads.
    for (const int apdu : {0, stages.first_exchange, stages.close - 1}) {
        SCOPED_TRACE("taken away at APDU " + std::to_string(apdu));
        card_->arm({LinkFault::Kind::leave, apdu, {}});
        expect_click(click(), outcome_at(stages, apdu));
        // Put back: the driver checks for it (asking its ATR), then pcscd reports it present.
        const int asked = card_->stats().atr_requests;
        card_->insert();
        ASSERT_TRUE(card_->wait_until(
            [asked](const vpcd_card::CardStats& s) { return s.atr_requests > asked; },
            kEventLimit));
        ASSERT_TRUE(pcscd_test::wait_for_card(slot_name(reader(), 0), kEventLimit));
        expect_next_click_reads();
    }
}

TEST_P(EachReader, CardPutBackAtOnceIsReadAfterAReconnect) {
    start_with_card();
    // Lifted and put straight back: the click begins while the service still holds the card's
    // old link.
    card_->remove();
    ASSERT_TRUE(
        card_->wait_until([](const vpcd_card::CardStats& s) { return !s.connected; }, kEventLimit));
    card_->insert();
    expect_click(click(), ClickOutcome::success);
}

TEST_P(EachReader, StalledReaderIsAbandonedInTime) {
    const Stages stages = start_with_card();
    // One place per model: while opening the session, at the first read, at the last read.
    const int apdu = GetParam() == ReaderModel::rcs300    ? 0
                     : GetParam() == ReaderModel::acr122u ? stages.first_exchange
                                                          : stages.close - 1;
    card_->arm({LinkFault::Kind::stall, apdu, 1000ms});
    expect_click(click(), outcome_at(stages, apdu), RwError::reader_timeout);
    // Once the late answer is out, the stalled call returns and lets go of the reader.
    ASSERT_TRUE(
        card_->wait_until([](const vpcd_card::CardStats& s) { return s.fault_done; }, kEventLimit));
    expect_next_click_reads();
}

TEST_P(EachReader, EveryApduLateStillEndsTheClickInTime) {
    start_with_card();
    // Each answer inside its own call's limit, but together past the click's budget.
    for (const auto late : {200ms, 550ms}) {
        SCOPED_TRACE("every APDU " + std::to_string(late.count()) + " ms late");
        card_->arm({LinkFault::Kind::slow, 0, late});
        const Click c = click();
        // Reading all in time or running out of it, but never another failure.
        expect_click(c, c.outcome,
                     c.outcome == ClickOutcome::success ? std::nullopt
                                                        : std::optional(RwError::reader_timeout));
        // The last late answer has to be out before the reader is free again.
        card_->arm({});
        ASSERT_TRUE(pcscd_test::wait_until_unused(slot_name(reader(), 0), kEventLimit));
        expect_next_click_reads();
    }
}

}  // namespace
