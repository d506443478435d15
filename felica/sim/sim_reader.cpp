#include "felica/sim/sim_reader.h"

namespace felica {

SimReader::SimReader(std::shared_ptr<SimulatedCard> card) : card_(std::move(card)) {}

std::string SimReader::name() const {
    return "simulated reader";
}

Transfer SimReader::poll(ByteView polling_frame, std::chrono::microseconds) {
    return transfer(polling_frame);
}

Transfer SimReader::exchange(ByteView frame, std::chrono::microseconds) {
    return transfer(frame);
}

void SimReader::close() {
    closed_ = true;
}

// The simulated card answers at once, so the timeout never has to be waited out: a card
// that stays silent is reported as a timeout straight away.
Transfer SimReader::transfer(ByteView frame) {
    if (closed_ || !card_) {
        return {RwError::io_error, {}};
    }
    std::optional<Bytes> answer = card_->respond(frame);
    if (!answer) {
        return {card_->removed() ? RwError::card_removed : RwError::timeout, {}};
    }
    return {RwError::none, std::move(*answer)};
}

}  // namespace felica
