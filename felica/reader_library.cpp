#include "felica/reader_library.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "felica/frames.h"
#include "felica/printable_text.h"
#include "felica/timeouts.h"

namespace felica {
namespace {

constexpr Byte kBlocksOutOfRange = 0xA2;  // SF2: "number of blocks out of range"
constexpr int kMaxServicesPerRead = 16;

std::string hex_byte(Byte value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

}  // namespace

ReaderLibrary::ReaderLibrary(ReaderOpener opener, DiagnosticSink diagnostics,
                             std::chrono::microseconds click_budget)
    : opener_(std::move(opener)),
      diagnostics_(std::move(diagnostics)),
      click_budget_(click_budget) {}

ReaderLibrary::~ReaderLibrary() {
    if (reader_) {
        reader_->close();
    }
}

bool ReaderLibrary::fail(RwError rw, std::int32_t felica) {
    last_rw_error_ = rw;
    last_felica_error_ = felica;
    return false;
}

bool ReaderLibrary::out_of_time() const {
    return out_of_time_ || deadline_.expired();
}

RwError ReaderLibrary::transfer_error(RwError error, bool capped) {
    // A wait cut to the rest of the budget counts as cut by it even when the clock has not
    // quite reached the deadline as the wait ends (Windows' sleeps end on its own ticks).
    if ((capped || deadline_.expired()) &&
        (error == RwError::timeout || error == RwError::reader_timeout)) {
        out_of_time_ = true;
        return RwError::reader_timeout;
    }
    return error;
}

// Every diagnostic line is made printable here, once: the reasons in it carry text from
// outside (card image contents, file names, VIRUDE_READER, the readers' stacks).
void ReaderLibrary::diagnose(std::string_view line) const {
    if (diagnostics_) {
        diagnostics_(printable_text(line));
    }
}

void ReaderLibrary::diagnose_transfer(std::string_view what, RwError error) const {
    std::string line = std::string(what) + std::string(to_string(error));
    if (const std::string detail = reader_->failure_detail(); !detail.empty()) {
        line += " (" + detail + ")";
    }
    if (out_of_time()) {
        line += "; the click ran out of time";
    }
    diagnose(line);
}

int ReaderLibrary::blocks_per_read() const {
    return reader_ ? blocks_per_read_ : 0;
}

bool ReaderLibrary::initialize_library() {
    // Each click begins here: its budget starts now.
    deadline_ = Deadline::after(click_budget_);
    out_of_time_ = false;
    // A library left initialised by an earlier session (its open failed) is reused as it is.
    if (!initialized_) {
        initialized_ = true;
        last_felica_error_ = 0;
        last_rw_error_ = RwError::none;
    }
    return true;
}

bool ReaderLibrary::open_reader_writer_auto() {
    if (!initialized_) {
        return fail(RwError::not_initialized);
    }
    if (reader_) {
        return true;
    }
    OpenedReader opened =
        opener_ ? opener_(deadline_) : OpenedReader{nullptr, RwError::no_reader, ""};
    if (!opened.backend) {
        open_failure_ = printable_text(opened.reason.empty() ? std::string(to_string(opened.error))
                                                             : opened.reason);
        diagnose("Can't open a reader: " + open_failure_);
        return fail(opened.error == RwError::none ? RwError::no_reader : opened.error);
    }
    open_failure_.clear();
    reader_ = std::move(opened.backend);
    blocks_per_read_ = std::clamp(reader_->max_blocks_per_read(), 1, kMaxBlocksPerFrame);
    polled_idm_.reset();
    diagnose("Opened " + reader_->name());
    return true;
}

bool ReaderLibrary::polling_and_get_card_information(const PollingRecord& polling,
                                                     Byte& number_of_cards,
                                                     const CardInformationRecord& card) {
    if (!initialized_ || !reader_) {
        return fail(RwError::not_initialized);
    }
    if (polling.system_code.size() < 2 || card.card_idm.size() < 8 || card.card_pmm.size() < 8) {
        return fail(RwError::invalid_argument);
    }
    const auto system_code =
        static_cast<std::uint16_t>((polling.system_code[0] << 8) | polling.system_code[1]);
    const Bytes frame = build_polling(system_code, RequestCode::none, polling.time_slot);
    const auto own_timeout =
        bounded_timeout(polling_response_time(polling.time_slot + 1), reader_->overhead());
    const auto timeout = deadline_.cap(own_timeout);

    polled_idm_.reset();
    if (out_of_time()) {
        diagnose("Polling failed: the click ran out of time");
        return fail(RwError::reader_timeout);
    }
    const Transfer answer = reader_->poll(frame, timeout);
    if (!answer.ok()) {
        const bool capped = timeout < own_timeout;
        const RwError error = transfer_error(answer.error, capped);
        diagnose_transfer("Polling failed: ", error);
        return fail(error);
    }
    const PollingParse parsed =
        parse_polling_response(answer.response, RequestCode::none, system_code);
    if (parsed.error != FrameError::none) {
        diagnose("Polling answer refused: " + std::string(to_string(parsed.error)));
        return fail(rw_error_of(parsed.error));
    }
    std::copy(parsed.response.idm.begin(), parsed.response.idm.end(), card.card_idm.begin());
    std::copy(parsed.response.pmm.begin(), parsed.response.pmm.end(), card.card_pmm.begin());
    number_of_cards = 1;
    polled_idm_ = parsed.response.idm;
    polled_pmm_ = parsed.response.pmm;
    return true;
}

bool ReaderLibrary::read_block_without_encryption(const ReadRequestRecord& request,
                                                  const ReadResultRecord& result) {
    if (!initialized_ || !reader_) {
        return fail(RwError::not_initialized);
    }
    if (!polled_idm_) {
        return fail(RwError::not_polled);
    }
    const int services = request.number_of_services;
    const int blocks = request.number_of_blocks;
    if (request.card_idm.size() < 8 || services < 1 || services > kMaxServicesPerRead ||
        request.service_code_list.size() < static_cast<std::size_t>(2 * services) || blocks < 1 ||
        result.block_data.size() < kBlockSize * blocks) {
        return fail(RwError::invalid_argument);
    }
    const auto elements = decode_block_list(request.block_list, blocks);
    if (!elements) {
        return fail(RwError::invalid_argument);
    }
    Idm idm{};
    std::copy_n(request.card_idm.begin(), idm.size(), idm.begin());
    const ByteView service_code_list = request.service_code_list.first(2 * services);

    // Cards and readers limit the blocks of one command: read in chunks of at most
    // blocks_per_read_, halving it whenever the card says the count is out of range.
    Bytes data;
    data.reserve(kBlockSize * blocks);
    int done = 0;
    while (done < blocks) {
        const int chunk = std::min(blocks_per_read_, blocks - done);
        const Bytes list =
            encode_block_list(std::span(*elements).subspan(done, static_cast<std::size_t>(chunk)));
        const Bytes frame =
            build_read_without_encryption(idm, service_code_list, list, static_cast<Byte>(chunk));
        const auto own_timeout =
            bounded_timeout(read_response_time(polled_pmm_, chunk), reader_->overhead());
        const auto timeout = deadline_.cap(own_timeout);
        if (out_of_time()) {
            diagnose("Read failed: the click ran out of time");
            return fail(RwError::reader_timeout);
        }
        const Transfer answer = reader_->exchange(frame, timeout);
        if (!answer.ok()) {
            const bool capped = timeout < own_timeout;
            const RwError error = transfer_error(answer.error, capped);
            diagnose_transfer("Read failed: ", error);
            return fail(error);
        }
        const ReadParse parsed =
            parse_read_response(answer.response, idm, static_cast<Byte>(chunk));
        if (parsed.error == FrameError::status_error) {
            if (parsed.status_flag_2 == kBlocksOutOfRange && chunk > 1) {
                blocks_per_read_ = (chunk + 1) / 2;
                diagnose("Card refused " + std::to_string(chunk) + " blocks, now reading " +
                         std::to_string(blocks_per_read_) + " per command");
                continue;
            }
            result.status_flag_1[0] = parsed.status_flag_1;
            result.status_flag_2[0] = parsed.status_flag_2;
            result.result_number_of_blocks[0] = 0;
            diagnose("Card reported SF1=" + hex_byte(parsed.status_flag_1) +
                     " SF2=" + hex_byte(parsed.status_flag_2));
            return fail(RwError::status_error, (parsed.status_flag_1 << 8) | parsed.status_flag_2);
        }
        if (parsed.error != FrameError::none) {
            diagnose("Read answer refused: " + std::string(to_string(parsed.error)));
            return fail(rw_error_of(parsed.error));
        }
        data.insert(data.end(), parsed.block_data.begin(), parsed.block_data.end());
        done += chunk;
    }
    std::copy(data.begin(), data.end(), result.block_data.begin());
    result.status_flag_1[0] = 0;
    result.status_flag_2[0] = 0;
    result.result_number_of_blocks[0] = static_cast<Byte>(blocks);
    return true;
}

bool ReaderLibrary::get_last_error_types(std::int32_t& felica_error_type,
                                         std::int32_t& rw_error_type) {
    felica_error_type = last_felica_error_;
    rw_error_type = static_cast<std::int32_t>(last_rw_error_);
    return initialized_;
}

bool ReaderLibrary::close_reader_writer() {
    if (!initialized_ || !reader_) {
        return fail(RwError::not_initialized);
    }
    reader_->close();
    reader_.reset();
    polled_idm_.reset();
    return true;
}

bool ReaderLibrary::dispose_library() {
    if (!initialized_) {
        return fail(RwError::not_initialized);
    }
    if (reader_) {
        reader_->close();
        reader_.reset();
    }
    polled_idm_.reset();
    initialized_ = false;
    return true;
}

}  // namespace felica
