#include "fuzz/checked_clicks.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "card/messages.h"
#include "card/read_command.h"
#include "card/service_dump.h"
#include "card/trace.h"
#include "felica/frames.h"
#include "felica/timeouts.h"
#include "fuzz/fuzz_support.h"

namespace fuzz {

using namespace felica;

// What the library did with one reader.
struct ReaderLog {
    int closes = 0;
    std::optional<Idm> polled;  // from the last answer to polling
    struct Read {
        std::uint16_t service = 0;
        std::vector<std::uint16_t> blocks;  // asked for
        Transfer answer;
    };
    std::vector<Read> reads;
};

namespace {

// A click never waits on its budget in a harness: results must not depend on the machine.
constexpr std::chrono::hours kNoBudget{1};

// Diagnostic lines carry text from outside (reader names, reasons): none may reach a
// terminal with a control character in it.
void check_printable(std::string_view line) {
    FUZZ_CHECK(std::none_of(line.begin(), line.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    }));
}

// Passes every call on to the harness's backend, checking how the library uses the reader.
class ObservedReader final : public ReaderBackend {
  public:
    ObservedReader(std::unique_ptr<ReaderBackend> inner, std::shared_ptr<ReaderLog> log)
        : inner_(std::move(inner)), log_(std::move(log)) {}

    std::string name() const override { return inner_->name(); }
    int max_blocks_per_read() const override { return inner_->max_blocks_per_read(); }
    std::chrono::microseconds overhead() const override { return inner_->overhead(); }

    Transfer poll(ByteView polling_frame, std::chrono::microseconds timeout) override {
        check_call(timeout);
        Transfer answer = inner_->poll(polling_frame, timeout);
        log_->polled.reset();
        if (answer.ok() && answer.response.size() >= 10) {
            Idm idm{};
            std::copy_n(answer.response.begin() + 2, idm.size(), idm.begin());
            log_->polled = idm;
        }
        return answer;
    }

    // A read command for the polled card: one service, as many blocks as the reader takes.
    Transfer exchange(ByteView frame, std::chrono::microseconds timeout) override {
        check_call(timeout);
        FUZZ_CHECK(log_->polled);
        FUZZ_CHECK(frame.size() >= 14 && frame[0] == frame.size() && frame[1] == 0x06);
        FUZZ_CHECK(std::equal(log_->polled->begin(), log_->polled->end(), &frame[2]));
        FUZZ_CHECK(frame[10] == 1);
        const int chunk = frame[13];
        FUZZ_CHECK(chunk >= 1 && chunk <= std::clamp(max_blocks_per_read(), 1, kMaxBlocksPerFrame));
        const auto elements = decode_block_list(frame.subspan(14), chunk);
        FUZZ_CHECK(elements && encode_block_list(*elements).size() == frame.size() - 14);

        ReaderLog::Read read;
        read.service = static_cast<std::uint16_t>(frame[11] | (frame[12] << 8));
        for (const BlockListElement& element : *elements) {
            read.blocks.push_back(element.block_number);
        }
        read.answer = inner_->exchange(frame, timeout);
        log_->reads.push_back(read);
        return read.answer;
    }

    void close() override {
        FUZZ_CHECK(log_->closes == 0);
        ++log_->closes;
        inner_->close();
    }

  private:
    void check_call(std::chrono::microseconds timeout) const {
        FUZZ_CHECK(log_->closes == 0);
        FUZZ_CHECK(timeout >= kMinCommandTimeout && timeout <= kMaxCommandTimeout);
    }

    std::unique_ptr<ReaderBackend> inner_;
    std::shared_ptr<ReaderLog> log_;
};

class RecordingView final : public card::ReadView {
  public:
    std::vector<std::string> messages;
    std::map<card::OutputBox, std::vector<std::string>> boxes;

    void set_message(std::string_view text) override { messages.emplace_back(text); }
    void set_box_text(card::OutputBox box, std::string_view text) override {
        boxes[box].emplace_back(text);
    }
};

// " N:<TAB>" and 32 upper-case hex digits per block, lines joined by CR LF; the bytes shown.
Bytes dump_bytes(const std::string& text, int blocks) {
    Bytes bytes;
    std::size_t at = 0;
    for (int j = 0; j < blocks; ++j) {
        const std::string head = " " + std::to_string(j) + ":\t";
        FUZZ_CHECK(text.compare(at, head.size(), head) == 0);
        at += head.size();
        FUZZ_CHECK(at + 32 <= text.size());
        for (int i = 0; i < 16; ++i) {
            const auto digit = [](char c) {
                FUZZ_CHECK((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
                return c <= '9' ? c - '0' : c - 'A' + 10;
            };
            bytes.push_back(static_cast<Byte>(digit(text[at]) << 4 | digit(text[at + 1])));
            at += 2;
        }
        if (j + 1 < blocks) {
            FUZZ_CHECK(text.compare(at, 2, "\r\n") == 0);
            at += 2;
        }
    }
    FUZZ_CHECK(at == text.size());
    return bytes;
}

// A service's dump shows the data of the card's accepted answers, blocks 0 … n − 1 in order.
// Every answer to the service's reads without an error status was accepted, or the read
// would have failed.
void check_service(const card::PlannedService& row, const std::string& text, const ReaderLog* log) {
    const Bytes shown = dump_bytes(text, row.blocks);
    FUZZ_CHECK(log);
    Bytes answered;
    std::vector<std::uint16_t> asked;
    for (const ReaderLog::Read& read : log->reads) {
        const Bytes& frame = read.answer.response;
        if (read.service != row.service_code || !read.answer.ok() || frame.size() < 13 ||
            frame[10] != 0 || frame[11] != 0) {
            continue;
        }
        answered.insert(answered.end(), frame.begin() + 13, frame.end());
        asked.insert(asked.end(), read.blocks.begin(), read.blocks.end());
    }
    FUZZ_CHECK(answered == shown);
    FUZZ_CHECK(asked.size() == static_cast<std::size_t>(row.blocks));
    for (std::size_t j = 0; j < asked.size(); ++j) {
        FUZZ_CHECK(asked[j] == j);
    }
}

// The error types a failed click traced: a reason always, the card's status only with
// error type 8.
void check_error_trace(const std::vector<std::string>& trace) {
    std::optional<long> felica;
    std::optional<long> rw;
    for (const std::string& line : trace) {
        if (line.starts_with("felica error type: ")) {
            felica = std::stol(line.substr(19));
        } else if (line.starts_with("rw error type: ")) {
            rw = std::stol(line.substr(15));
        }
    }
    FUZZ_CHECK(felica && rw);
    FUZZ_CHECK(*rw >= 1 && *rw <= 20);
    FUZZ_CHECK((*felica != 0) == (*rw == static_cast<long>(RwError::status_error)));
}

}  // namespace

CheckedClicks::CheckedClicks(Opener open)
    : open_(std::move(open)),
      library_(
          [this](const Deadline&) {
              OpenedReader opened = open_();
              if (opened.backend) {
                  log_ = std::make_shared<ReaderLog>();
                  opened.backend =
                      std::make_unique<ObservedReader>(std::move(opened.backend), log_);
              }
              return opened;
          },
          check_printable, kNoBudget) {}

CheckedClicks::~CheckedClicks() = default;

void CheckedClicks::click() {
    using card::ClickOutcome;
    log_.reset();
    std::vector<std::string> trace;
    RecordingView view;
    ClickOutcome outcome;
    {
        const card::TraceSinkScope sink(
            [&trace](std::string_view line) { trace.emplace_back(line); });
        outcome = card::Command_Click(library_, view);
    }

    // The reader, when one was opened, is closed exactly once, by the click itself.
    FUZZ_CHECK((log_ == nullptr) == (outcome == ClickOutcome::no_reader));
    FUZZ_CHECK(!log_ || log_->closes == 1);

    // The message line: cleared once the reader is open, then the one text of the outcome.
    std::vector<std::string> expected;
    switch (outcome) {
        case ClickOutcome::no_reader:
            expected = {std::string(card::kMessageNoReader)};
            break;
        case ClickOutcome::success:
            expected = {""};
            break;
        case ClickOutcome::no_card:
            expected = {"", std::string(card::kMessageNoCard)};
            break;
        case ClickOutcome::read_error:
            expected = {"", std::string(card::kMessageReadError)};
            break;
    }
    FUZZ_CHECK(view.messages == expected);
    if (outcome == ClickOutcome::no_reader) {
        FUZZ_CHECK(!library_.open_failure().empty());
        check_printable(library_.open_failure());
    }
    if (outcome == ClickOutcome::no_card || outcome == ClickOutcome::read_error) {
        check_error_trace(trace);
    }

    // Boxes are filled in the plan's order up to a failed read, each once with its dump.
    std::size_t filled = 0;
    for (const card::PlannedService& row : card::kServicePlan) {
        const auto box = view.boxes.find(row.box);
        if (box == view.boxes.end()) {
            break;
        }
        FUZZ_CHECK(box->second.size() == 1);
        check_service(row, box->second.front(), log_.get());
        ++filled;
    }
    FUZZ_CHECK(filled == view.boxes.size());
    const std::size_t all = card::kServicePlan.size();
    FUZZ_CHECK(outcome == ClickOutcome::success      ? filled == all
               : outcome == ClickOutcome::read_error ? filled < all
                                                     : filled == 0);
}

}  // namespace fuzz
