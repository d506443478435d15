// The library over reader backends: sessions, polling, chunked reads with bounded waits,
// and the error types of the last failure.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "felica/deadline.h"
#include "felica/errors.h"
#include "felica/library.h"
#include "felica/reader_backend.h"

namespace felica {

// Opens the reader a session should use, or says why there is none; neither opening nor the
// reader it opens may wait past the deadline.
using ReaderOpener = std::function<OpenedReader(const Deadline&)>;

// Receives one diagnostic line of the library (why a reader could not be opened, …).
using DiagnosticSink = std::function<void(std::string_view)>;

class ReaderLibrary final : public Library {
  public:
    // Each session (from initialize_library on) ends its reader's work within
    // `click_budget`; what runs out of it fails with RwError::reader_timeout.
    explicit ReaderLibrary(ReaderOpener opener, DiagnosticSink diagnostics = {},
                           std::chrono::microseconds click_budget = kClickBudget);
    ~ReaderLibrary() override;

    bool initialize_library() override;
    bool open_reader_writer_auto() override;
    bool polling_and_get_card_information(const PollingRecord& polling, Byte& number_of_cards,
                                          const CardInformationRecord& card) override;
    bool read_block_without_encryption(const ReadRequestRecord& request,
                                       const ReadResultRecord& result) override;
    bool get_last_error_types(std::int32_t& felica_error_type,
                              std::int32_t& rw_error_type) override;
    bool close_reader_writer() override;
    bool dispose_library() override;

    // Why the last open_reader_writer_auto failed, printable; empty once one succeeded.
    const std::string& open_failure() const { return open_failure_; }

    // Blocks per read command the session currently uses (halved on "number of blocks out
    // of range"); 0 without an open reader.
    int blocks_per_read() const;

  private:
    bool fail(RwError rw, std::int32_t felica = 0);
    // A failed transfer's error type: a wait the click's deadline cut short (`capped`: cut
    // to what was left of it) is the reader's time running out, not the card's silence.
    // The click's budget then counts as spent, even if the clock has not quite reached the
    // deadline: nothing more is sent until the next click.
    RwError transfer_error(RwError error, bool capped);
    bool out_of_time() const;
    void diagnose(std::string_view line) const;
    // Diagnoses a failed transfer with what the reader adds about it.
    void diagnose_transfer(std::string_view what, RwError error) const;

    ReaderOpener opener_;
    DiagnosticSink diagnostics_;
    std::chrono::microseconds click_budget_;
    Deadline deadline_;
    bool out_of_time_ = false;  // a wait cut to the rest of the budget ran out
    bool initialized_ = false;
    std::unique_ptr<ReaderBackend> reader_;
    int blocks_per_read_ = 0;
    std::optional<Idm> polled_idm_;
    Pmm polled_pmm_{};
    std::string open_failure_;
    std::int32_t last_felica_error_ = 0;
    RwError last_rw_error_ = RwError::none;
};

}  // namespace felica
