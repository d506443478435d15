// The Port-100 model behind the bulk pipe interface, in process: the command layer's tests
// talk to it as they would to the reader on USB, with real waits.
#pragma once

#include <thread>

#include "felica/rcs380/bulk_pipe.h"
#include "tools/rcs380_emulator/port100_model.h"

namespace port100 {

class ModelPipe final : public felica::rcs380::BulkPipe {
  public:
    explicit ModelPipe(Port100Model& model) : model_(model) {}

    felica::rcs380::PipeResult write(ByteView bytes, std::chrono::milliseconds) override {
        if (model_.unplugged()) {
            return {felica::rcs380::PipeStatus::no_device, {}, "unplugged"};
        }
        model_.receive(bytes, Clock::now());
        return {};
    }

    felica::rcs380::PipeResult read(std::size_t max, std::chrono::milliseconds timeout) override {
        const Clock::time_point end = Clock::now() + timeout;
        for (;;) {
            if (model_.unplugged()) {
                return {felica::rcs380::PipeStatus::no_device, {}, "unplugged"};
            }
            if (std::optional<Bytes> frame = model_.take_in(Clock::now())) {
                if (frame->size() > max) {
                    return {felica::rcs380::PipeStatus::error, {}, "overflow"};
                }
                return {felica::rcs380::PipeStatus::ok, std::move(*frame), {}};
            }
            const std::optional<Clock::time_point> due = model_.next_due();
            if (!due || *due > end) {
                std::this_thread::sleep_until(end);
                return {felica::rcs380::PipeStatus::timeout, {}, {}};
            }
            std::this_thread::sleep_until(*due);
        }
    }

  private:
    Port100Model& model_;
};

}  // namespace port100
