// The PC/SC reader backend: picks a reader, connects to its card when polling, and carries
// frames in the reader's dialect.
#include "felica/pcsc/pcsc_reader.h"

#include <algorithm>
#include <cctype>
#include <thread>

#include "felica/pcsc/dialect_choice.h"
#include "felica/pcsc/pcsc_session.h"

namespace felica {
namespace {

using pcsc::Dialect;
using pcsc::PcscSession;

// Time a reader adds to a command beyond the card's own: the frames at 212 kbit/s (about
// 10 ms for the longest answer) and the reader's own work.
constexpr std::chrono::microseconds kReaderOverhead{15'000};
// How long a click waits for a card that was lifted and put straight back to be usable again:
// the service checks its readers a few times a second.
constexpr std::chrono::milliseconds kCardReturnWait{1000};
constexpr std::chrono::milliseconds kReconnectPause{100};

bool contains_ignoring_case(std::string_view text, std::string_view part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           }) != text.end();
}

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) {
        out += (out.empty() ? "\"" : ", \"") + name + "\"";
    }
    return out;
}

class PcscReader final : public ReaderBackend {
  public:
    PcscReader(std::unique_ptr<PcscSession> session, std::string reader, bool card_at_open,
               const Deadline& deadline)
        : session_(std::move(session)),
          reader_(std::move(reader)),
          card_at_open_(card_at_open),
          deadline_(deadline) {}

    std::string name() const override { return "PC/SC reader \"" + reader_ + "\""; }
    int max_blocks_per_read() const override { return pcsc::max_blocks_for_reader(reader_); }
    std::chrono::microseconds overhead() const override { return kReaderOverhead; }

    // The card is reached here rather than when the reader is opened: a reader without a
    // card is a reader all the same, and whatever goes wrong from here on is the card's.
    Transfer poll(ByteView polling_frame, std::chrono::microseconds timeout) override {
        if (!session_) {
            return {RwError::not_initialized, {}};
        }
        if (dialect_) {
            session_->clear_failure();
            return dialect_->poll(*session_, polling_frame, timeout);
        }
        Transfer answer = start_and_poll(polling_frame, timeout);
        if (answer.ok() || !card_at_open_ || !put_back_maybe(answer.error)) {
            return answer;
        }
        // A card lifted and put straight back as the click begins is on the reader, yet until
        // the service has caught up it may report the card removed or reset at connect, or
        // lose the first command with the card's old link. The reader had a card when the
        // click began: connect again once the card is back, for a moment at most.
        const std::string first_failure = session_->failure();
        const Deadline wait = Deadline::after(deadline_.cap(kCardReturnWait));
        for (int attempt = 0; !wait.expired(); ++attempt) {
            end_card();
            if (attempt > 0) {
                std::this_thread::sleep_for(wait.cap(kReconnectPause));
            }
            if (!card_on_reader(wait)) {
                break;
            }
            answer = start_and_poll(polling_frame, timeout);
            if (answer.ok() || !put_back_maybe(answer.error)) {
                break;
            }
        }
        if (!answer.ok()) {
            session_->note_failure(session_->failure() + " (at first " + first_failure + ")");
        }
        return answer;
    }

    Transfer exchange(ByteView frame, std::chrono::microseconds timeout) override {
        if (!session_) {
            return {RwError::not_initialized, {}};
        }
        if (!dialect_) {
            return {RwError::not_polled, {}};
        }
        session_->clear_failure();
        return dialect_->exchange(*session_, frame, timeout);
    }

    // The PC/SC call that failed, and what the dialect adds (the reader command and its
    // status word), under the dialect's name: what a user's report needs.
    std::string failure_detail() const override {
        if (!session_) {
            return {};
        }
        std::string detail = session_->failure();
        if (dialect_) {
            const std::string own = dialect_->failure_detail();
            if (!own.empty()) {
                detail += (detail.empty() ? "" : "; ") + own;
            }
            if (!detail.empty()) {
                detail = std::string(pcsc::to_string(dialect_->kind())) + ": " + detail;
            }
        }
        return detail;
    }

    void close() override {
        if (session_ && dialect_ && !session_->stalled()) {
            dialect_->end(*session_);
        }
        dialect_.reset();
        session_.reset();
    }

  private:
    // Connects to the card, opens the dialect and polls.
    Transfer start_and_poll(ByteView polling_frame, std::chrono::microseconds timeout) {
        session_->clear_failure();
        if (const RwError error = start_card(); error != RwError::none) {
            return {error, {}};
        }
        session_->clear_failure();  // dialects the reader refused on the way
        return dialect_->poll(*session_, polling_frame, timeout);
    }

    // Failures that a card put back can cause: reported removed or reset, or gone at
    // connect (the service has seen it leave but not yet return), or the first command
    // lost with the card's old link. A card that is there and silent is not one of them.
    bool put_back_maybe(RwError error) const {
        return error == RwError::card_removed || error == RwError::io_error ||
               (error == RwError::timeout && !dialect_);
    }

    void end_card() {
        if (dialect_ && !session_->stalled()) {
            dialect_->end(*session_);
        }
        dialect_.reset();
        session_->disconnect();
    }

    // Is a card on the reader, or does one come before `wait` runs out?
    bool card_on_reader(const Deadline& wait) {
        pcsc::ReaderState now;
        if (session_->reader_state(reader_, now) != RwError::none) {
            return false;
        }
        while (!now.card && !wait.expired()) {
            const pcsc::ReaderState known = now;
            if (session_->wait_for_change(reader_, known, wait.remaining(), now) != RwError::none) {
                return false;
            }
        }
        return now.card;
    }

    // Connects, then opens the first dialect the reader accepts: its name's, its card's
    // ATR's, then the others.
    RwError start_card() {
        if (const RwError error = session_->connect(reader_); error != RwError::none) {
            return error;
        }
        Bytes atr;
        if (const RwError error = session_->atr(atr); error != RwError::none) {
            session_->disconnect();
            return error;
        }
        pcsc::StartedDialect started = pcsc::start_dialect(*session_, reader_, atr);
        if (!started.dialect) {
            session_->disconnect();
            return started.error;
        }
        dialect_ = std::move(started.dialect);
        return RwError::none;
    }

    std::unique_ptr<PcscSession> session_;
    std::string reader_;
    bool card_at_open_;
    Deadline deadline_;
    std::unique_ptr<Dialect> dialect_;
};

OpenedReader failure(RwError error, std::string reason) {
    return {nullptr, error, "PC/SC: " + std::move(reason)};
}

}  // namespace

OpenedReader open_pcsc_reader(const std::optional<std::string>& name, const Deadline& deadline) {
    auto session = std::make_unique<PcscSession>(deadline);
    if (const RwError error = session->establish(); error != RwError::none) {
        return failure(error, session->failure());
    }
    std::vector<std::string> readers;
    if (const RwError error = session->list_readers(readers); error != RwError::none) {
        return failure(error, session->failure());
    }
    if (name) {
        std::vector<std::string> matching;
        std::copy_if(
            readers.begin(), readers.end(), std::back_inserter(matching),
            [&name](const std::string& reader) { return contains_ignoring_case(reader, *name); });
        if (matching.empty()) {
            return failure(RwError::no_reader, "no reader's name contains \"" + *name +
                                                   "\" (readers: " + joined(readers) + ")");
        }
        readers = std::move(matching);
    }
    // The first reader with a card on it; without any, the first reader, whose missing card
    // polling then reports.
    std::vector<bool> present;
    if (const RwError error = session->cards_present(readers, present); error != RwError::none) {
        return failure(error, session->failure());
    }
    const auto with_card = std::find(present.begin(), present.end(), true);
    const std::string& reader =
        readers[with_card == present.end() ? 0
                                           : static_cast<std::size_t>(with_card - present.begin())];
    return {std::make_unique<PcscReader>(std::move(session), reader, with_card != present.end(),
                                         deadline),
            RwError::none,
            {}};
}

}  // namespace felica
