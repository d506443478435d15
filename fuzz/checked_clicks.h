// Clicks of the READ button through the real library over a reader a harness supplies, with
// every invariant a user or the reader could observe checked after each click.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include "felica/reader_library.h"

namespace fuzz {

// The errors a backend reports for a transfer (a card's error status and a malformed frame
// are the library's own findings).
inline constexpr std::array kTransferErrors = {
    felica::RwError::not_initialized,    felica::RwError::invalid_argument,
    felica::RwError::no_reader,          felica::RwError::timeout,
    felica::RwError::card_removed,       felica::RwError::io_error,
    felica::RwError::malformed_response, felica::RwError::not_polled,
    felica::RwError::no_service,         felica::RwError::reader_timeout,
    felica::RwError::reader_busy};

struct ReaderLog;

class CheckedClicks {
  public:
    // Opens the reader for one click: a backend, or the error of a reader that cannot be
    // opened.
    using Opener = std::function<felica::OpenedReader()>;

    explicit CheckedClicks(Opener open);
    ~CheckedClicks();

    // One click on one library: the second click of a harness finds what the first left.
    void click();

  private:
    Opener open_;
    std::shared_ptr<ReaderLog> log_;  // of the reader the current click opened
    felica::ReaderLibrary library_;
};

}  // namespace fuzz
