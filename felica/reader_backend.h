// A reader backend moves FeliCa frames between the library and one card; it knows nothing of
// services or blocks. Backends: the simulated reader, PC/SC readers, libnfc devices.
//
// A backend is opened for one click with the click's deadline: none of its calls, close()
// included, may wait past it. After the deadline, close() lets go of the reader without
// waiting (in the background if the reader's stack needs time).
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "felica/deadline.h"
#include "felica/errors.h"
#include "felica/types.h"

namespace felica {

// The outcome of one frame exchange: the card's response frame (with its LEN byte) or the
// reason there is none.
struct Transfer {
    RwError error = RwError::none;
    Bytes response;

    bool ok() const { return error == RwError::none; }
};

class ReaderBackend {
  public:
    virtual ~ReaderBackend() = default;

    // Human-readable name of the reader, for trace lines.
    virtual std::string name() const = 0;
    // The most blocks one read command may ask for through this reader.
    virtual int max_blocks_per_read() const = 0;
    // Time the reader adds to each command beyond the card's own response time.
    virtual std::chrono::microseconds overhead() const = 0;

    // Sends a polling frame and returns the card's answer; readers that poll with their own
    // command build it from this frame.
    virtual Transfer poll(ByteView polling_frame, std::chrono::microseconds timeout) = 0;
    // Sends one command frame to the polled card and waits at most `timeout` for its answer.
    virtual Transfer exchange(ByteView frame, std::chrono::microseconds timeout) = 0;
    // Releases the reader. Called once; the backend is destroyed afterwards.
    virtual void close() = 0;
    // What the reader's own stack said about the last failed transfer (a PC/SC call and its
    // return code, say), for the diagnostic log; empty when it has nothing to add.
    virtual std::string failure_detail() const { return {}; }
};

// A freshly opened reader, or why none could be opened.
struct OpenedReader {
    std::unique_ptr<ReaderBackend> backend;  // null on failure
    RwError error = RwError::none;
    std::string reason;  // why opening failed, for the diagnostic log
};

}  // namespace felica
