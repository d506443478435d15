// The simulated reader: a reader backend with a simulated card on it.
#pragma once

#include <memory>

#include "felica/reader_backend.h"
#include "felica/sim/sim_card.h"

namespace felica {

class SimReader final : public ReaderBackend {
public:
    // The card is shared so that a test can watch it (exchange count, faults) while the
    // library owns the reader.
    explicit SimReader(std::shared_ptr<SimulatedCard> card);

    std::string name() const override;
    int max_blocks_per_read() const override { return kMaxBlocksPerFrame; }
    std::chrono::microseconds overhead() const override { return {}; }
    Transfer poll(ByteView polling_frame, std::chrono::microseconds timeout) override;
    Transfer exchange(ByteView frame, std::chrono::microseconds timeout) override;
    void close() override;

private:
    Transfer transfer(ByteView frame);

    std::shared_ptr<SimulatedCard> card_;
    bool closed_ = false;
};

}  // namespace felica
