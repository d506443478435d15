#include "felica/pcsc/storage_card.h"

#include <cstdio>
#include <optional>

#include "felica/frames.h"
#include "felica/pcsc/apdu.h"

namespace felica::pcsc::storage {
namespace {

constexpr Byte kGetData = 0xCA;
constexpr Byte kSelectFile = 0xA4;
constexpr Byte kReadBinary = 0xB0;

constexpr std::size_t kIdmSize = 8;
constexpr std::size_t kPollingFrameLength = 6;

// Status words of a card's refusal, told as the card's own status flags would tell them:
// SF1 FF (not tied to one block list element) and SF2 A6 "illegal service code" or A8
// "illegal block number". The card or the reader not answering is a timeout; any other word
// is the reader's failure.
constexpr std::uint16_t kSwNotFound = 0x6A82;
constexpr std::uint16_t kSwWrongOffset = 0x6B00;
constexpr std::uint16_t kSwWrongParameters = 0x6A86;
constexpr std::uint16_t kSwNoAnswer = 0x6300;
constexpr std::uint16_t kSwNoCardAnswer = 0x6401;
constexpr Byte kSf1AnyElement = 0xFF;
constexpr Byte kSf2IllegalService = 0xA6;
constexpr Byte kSf2IllegalBlock = 0xA8;

std::string hex(ByteView bytes) {
    std::string out;
    char digits[4];
    for (const Byte byte : bytes) {
        std::snprintf(digits, sizeof digits, out.empty() ? "%02X" : " %02X", byte);
        out += digits;
    }
    return out;
}

// A Read Without Encryption frame's parts the dialect needs.
struct ReadRequest {
    Idm idm{};
    std::uint16_t service_code = 0;
    std::vector<std::uint16_t> blocks;
};

// LEN 06 IDm m <service codes> n <block list>, with one service; nothing for any other frame.
std::optional<ReadRequest> parse_read_request(ByteView frame) {
    constexpr std::size_t kHeader = 1 + 1 + kIdmSize;  // LEN, command code, IDm
    if (frame.size() < kHeader + 4 || frame[0] != frame.size() ||
        frame[1] != static_cast<Byte>(CommandCode::read_without_encryption) ||
        frame[kHeader] != 1) {
        return std::nullopt;
    }
    ReadRequest request;
    std::copy_n(frame.begin() + 2, kIdmSize, request.idm.begin());
    request.service_code =
        static_cast<std::uint16_t>(frame[kHeader + 1] | (frame[kHeader + 2] << 8));
    const std::size_t count = frame[kHeader + 3];
    const auto elements = decode_block_list(frame.subspan(kHeader + 4), count);
    if (count < 1 || !elements) {
        return std::nullopt;
    }
    for (const BlockListElement& element : *elements) {
        if (element.service_index != 0) {
            return std::nullopt;
        }
        request.blocks.push_back(element.block_number);
    }
    return request;
}

// The card's answer to a read: LEN 07 IDm SF1 SF2, then n and the data when SF1 is 00.
Bytes read_response(const Idm& idm, Byte sf1, Byte sf2, const Bytes& data = {}) {
    Bytes frame = {0x00, static_cast<Byte>(CommandCode::read_without_encryption) + 1};
    frame.insert(frame.end(), idm.begin(), idm.end());
    frame.push_back(sf1);
    frame.push_back(sf2);
    if (sf1 == 0) {
        frame.push_back(static_cast<Byte>(data.size() / kBlockSize));
        frame.insert(frame.end(), data.begin(), data.end());
    }
    frame[0] = static_cast<Byte>(frame.size());
    return frame;
}

class StorageCard final : public Dialect {
  public:
    DialectKind kind() const override { return DialectKind::storage_card; }

    // The reader speaks it when GET DATA brings an 8-byte IDm.
    DialectStart start(ApduChannel& channel, DialectChoice) override {
        const ApduReply reply = channel.transmit(get_data_command(), {});
        if (!reply.ok()) {
            return {DialectStart::Status::failed, reply.error};
        }
        if (!idm_of(reply.response)) {
            return {DialectStart::Status::unsupported, RwError::none};
        }
        selected_.reset();
        return {};
    }

    Transfer poll(ApduChannel& channel, ByteView polling_frame,
                  std::chrono::microseconds timeout) override {
        if (polling_frame.size() != kPollingFrameLength ||
            polling_frame[0] != kPollingFrameLength ||
            polling_frame[1] != static_cast<Byte>(CommandCode::polling) ||
            polling_frame[4] != static_cast<Byte>(RequestCode::none)) {
            return {RwError::invalid_argument, {}};
        }
        failure_.clear();
        const Bytes command = get_data_command();
        const ApduReply reply = channel.transmit(command, timeout);
        if (!reply.ok()) {
            return {reply.error, {}};
        }
        const auto idm = idm_of(reply.response);
        if (!idm) {
            return refused(command, reply.response, RwError::malformed_response);
        }
        // LEN 01 IDm PMm, the PMm unknown.
        Bytes frame = {0x12, static_cast<Byte>(CommandCode::polling) + 1};
        frame.insert(frame.end(), idm->begin(), idm->end());
        frame.resize(frame.size() + 8, 0x00);
        selected_.reset();
        return {RwError::none, std::move(frame)};
    }

    Transfer exchange(ApduChannel& channel, ByteView frame,
                      std::chrono::microseconds timeout) override {
        const auto request = parse_read_request(frame);
        if (!request) {
            return {RwError::invalid_argument, {}};
        }
        failure_.clear();
        if (selected_ != request->service_code) {
            selected_.reset();
            const Bytes command = select_file_command(request->service_code);
            const ApduReply reply = channel.transmit(command, timeout);
            if (!reply.ok()) {
                return {reply.error, {}};
            }
            const auto apdu = split_response(reply.response);
            if (!apdu || apdu->sw != kSwSuccess) {
                if (apdu && apdu->sw == kSwNotFound) {
                    note(command, reply.response);
                    return {RwError::none,
                            read_response(request->idm, kSf1AnyElement, kSf2IllegalService)};
                }
                return refused(command, reply.response, reply_error(apdu));
            }
            selected_ = request->service_code;
        }
        Bytes data;
        for (const std::uint16_t block : request->blocks) {
            const Bytes command = read_binary_command(block);
            const ApduReply reply = channel.transmit(command, timeout);
            if (!reply.ok()) {
                return {reply.error, {}};
            }
            const auto apdu = split_response(reply.response);
            if (apdu && (apdu->sw == kSwNotFound || apdu->sw == kSwWrongOffset ||
                         apdu->sw == kSwWrongParameters)) {
                note(command, reply.response);
                return {RwError::none,
                        read_response(request->idm, kSf1AnyElement, kSf2IllegalBlock)};
            }
            if (!apdu || apdu->sw != kSwSuccess || apdu->data.size() != kBlockSize) {
                return refused(command, reply.response, reply_error(apdu));
            }
            data.insert(data.end(), apdu->data.begin(), apdu->data.end());
        }
        return {RwError::none, read_response(request->idm, 0x00, 0x00, data)};
    }

    void end(ApduChannel&) override {}

    std::string failure_detail() const override { return failure_; }

  private:
    static std::optional<Idm> idm_of(ByteView response) {
        const auto apdu = split_response(response);
        if (!apdu || apdu->sw != kSwSuccess || apdu->data.size() != kIdmSize) {
            return std::nullopt;
        }
        Idm idm{};
        std::copy(apdu->data.begin(), apdu->data.end(), idm.begin());
        return idm;
    }

    // A status word that is no card data: the card or the reader not answering, or a reader
    // failure; an answer without a status word is malformed.
    static RwError reply_error(const std::optional<ResponseApdu>& apdu) {
        if (!apdu) {
            return RwError::malformed_response;
        }
        if (apdu->sw == kSwNoAnswer || apdu->sw == kSwNoCardAnswer) {
            return RwError::timeout;
        }
        return apdu->sw == kSwSuccess ? RwError::malformed_response : RwError::io_error;
    }

    void note(ByteView command, ByteView response) {
        failure_ = "storage card: " + hex(command) + " answered " + hex(response);
    }

    Transfer refused(ByteView command, ByteView response, RwError error) {
        note(command, response);
        return {error, {}};
    }

    std::optional<std::uint16_t> selected_;  // the service SELECT FILE chose last
    std::string failure_;
};

}  // namespace

Bytes get_data_command() {
    return {0xFF, kGetData, 0x00, 0x00, 0x00};
}

Bytes select_file_command(std::uint16_t service_code) {
    const Byte data[] = {static_cast<Byte>(service_code & 0xFF),
                         static_cast<Byte>(service_code >> 8)};
    return fixed_reader_command(kSelectFile, 0x00, 0x01, data);
}

Bytes read_binary_command(std::uint16_t block) {
    return {0xFF, kReadBinary, static_cast<Byte>(block >> 8), static_cast<Byte>(block & 0xFF),
            0x00};
}

int max_blocks_per_read() {
    return kMaxBlocksPerFrame;
}

std::unique_ptr<Dialect> make_dialect() {
    return std::make_unique<StorageCard>();
}

}  // namespace felica::pcsc::storage
