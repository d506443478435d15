// Writes the harnesses' seed corpora: valid frames and whole sessions from the simulated card
// behind the library and the virtual PC/SC readers, and a few broken ones (the card's own
// faults). Run by hand when an input format changes:
//   build/default/fuzz/seed-writer fuzz/corpus tests/data
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "card/read_command.h"
#include "felica/frames.h"
#include "felica/libnfc/helper_protocol.h"
#include "felica/pcsc/dialect_choice.h"
#include "felica/rcs380/port100_chip.h"
#include "felica/reader_library.h"
#include "felica/sim/card_image_file.h"
#include "felica/sim/sim_reader.h"
#include "fuzz/checked_clicks.h"
#include "tools/rcs380_emulator/port100_model.h"
#include "tools/vpcd_card/virtual_reader.h"

namespace {

using namespace felica;
namespace fs = std::filesystem;

fs::path g_root;

void write(const std::string& harness, const std::string& name, const Bytes& bytes) {
    fs::create_directories(g_root / harness);
    std::ofstream(g_root / harness / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void append(Bytes& out, ByteView bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

Bytes text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

CardFaults silent() {
    CardFaults faults;
    faults.silent = true;
    return faults;
}

CardFaults garbled(Garble garble) {
    CardFaults faults;
    faults.garble = garble;
    return faults;
}

CardFaults removed_after(int exchanges) {
    CardFaults faults;
    faults.removed_after = exchanges;
    return faults;
}

SimulatedCard card_with(CardFaults faults, int block_limit = kMaxBlocksPerFrame) {
    CardImage image = demo_card();
    image.block_limit = block_limit;
    return SimulatedCard(image, faults);
}

// Whole clicks on the simulated card, each answer recorded as the click harness reads it.
class RecordingReader final : public ReaderBackend {
  public:
    RecordingReader(std::shared_ptr<SimulatedCard> card, Bytes& out) : sim_(card), out_(out) {}
    std::string name() const override { return "recording"; }
    int max_blocks_per_read() const override { return sim_.max_blocks_per_read(); }
    std::chrono::microseconds overhead() const override { return {}; }
    Transfer poll(ByteView frame, std::chrono::microseconds t) override {
        return record(sim_.poll(frame, t));
    }
    Transfer exchange(ByteView frame, std::chrono::microseconds t) override {
        return record(sim_.exchange(frame, t));
    }
    void close() override { sim_.close(); }

  private:
    Transfer record(Transfer transfer) {
        if (transfer.ok()) {
            out_.push_back(static_cast<Byte>(transfer.response.size() + 1));
            append(out_, transfer.response);
        } else {
            const auto at = std::find(fuzz::kTransferErrors.begin(), fuzz::kTransferErrors.end(),
                                      transfer.error);
            out_.insert(out_.end(), {0x00, static_cast<Byte>(at - fuzz::kTransferErrors.begin())});
        }
        return transfer;
    }
    SimReader sim_;
    Bytes& out_;
};

struct NullView final : card::ReadView {
    void set_message(std::string_view) override {}
    void set_box_text(card::OutputBox, std::string_view) override {}
};

void click_seed(const std::string& name, CardFaults faults, int block_limit = 15) {
    Bytes out;
    auto card = std::make_shared<SimulatedCard>(card_with(faults, block_limit));
    ReaderLibrary library([&](const Deadline&) {
        // Opened, 15 blocks per read, no overhead, no name, nothing to tell of failures.
        out.insert(out.end(), {0xFF, 15, 0, 0, 0});
        return OpenedReader{std::make_unique<RecordingReader>(card, out), RwError::none, {}};
    });
    NullView view;
    card::Command_Click(library, view);
    card::Command_Click(library, view);
    write("click_fuzzer", name, out);
}

// One PC/SC session as the dialects harness drives it, each reply recorded.
class RecordingChannel final : public pcsc::ApduChannel {
  public:
    RecordingChannel(vpcd_card::VirtualReader& reader, Bytes& out) : reader_(reader), out_(out) {}
    pcsc::ApduReply transmit(ByteView command, std::chrono::microseconds) override {
        Bytes response = reader_.respond(command).response;
        if (response.size() <= 250) {
            out_.push_back(static_cast<Byte>(response.size()));
        } else {
            out_.insert(out_.end(), {0xFB, static_cast<Byte>(response.size() - 251)});
        }
        append(out_, response);
        replies.push_back(response);
        return {RwError::none, std::move(response)};
    }
    vpcd_card::VirtualReader& reader_;
    Bytes& out_;
    std::vector<Bytes> replies;
};

void pcsc_seed(const std::string& name, vpcd_card::ReaderModel model, CardFaults faults) {
    const std::string reader_name(vpcd_card::friendly_name(model));
    const Bytes atr = vpcd_card::card_atr(model);
    constexpr int kExchanges = 3;
    constexpr Byte kTimeoutByte = 24;  // 100 ms
    Bytes out{static_cast<Byte>(reader_name.size())};
    append(out, text(reader_name));
    out.push_back(static_cast<Byte>(atr.size()));
    append(out, atr);
    out.insert(out.end(), {kExchanges, kTimeoutByte});

    // GET RESPONSE is the PC/SC session's business: the dialects see whole answers.
    vpcd_card::ReaderOptions options;
    options.t0_get_response = false;
    auto reader = vpcd_card::make_virtual_reader(
        model, std::make_shared<SimulatedCard>(card_with(faults)), options);
    RecordingChannel channel(*reader, out);
    const std::chrono::microseconds timeout{4'000 * (kTimeoutByte + 1)};
    const pcsc::StartedDialect started = pcsc::start_dialect(channel, reader_name, atr);
    if (started.dialect) {
        pcsc::Dialect& dialect = *started.dialect;
        (void)dialect.poll(channel, build_polling(kSystemCode, RequestCode::none, 0), timeout);
        const Idm idm = demo_card().idm;
        const Byte service[] = {0x0F, 0x09};
        const Byte block[] = {0x80, 0x00};
        const Bytes read = build_read_without_encryption(idm, service, block, 1);
        for (int i = 0; i < kExchanges; ++i) {
            (void)dialect.exchange(channel, read, timeout * (i + 1));
        }
        dialect.end(channel);
    }
    write("pcsc_dialects_fuzzer", name, out);
    // Each kind of answer also seeds the APDU parsers, behind the harness's 6-byte header.
    std::set<Bytes> seen;
    for (std::size_t i = 0; i < channel.replies.size(); ++i) {
        if (!seen.insert(channel.replies[i]).second) {
            continue;
        }
        Bytes seed{0xC2, 0x00, 0x01, 0x00, 0x00, 0x10};
        append(seed, channel.replies[i]);
        write("apdu_fuzzer", name + "_reply_" + std::to_string(i), seed);
    }
}

void frame_seeds() {
    SimulatedCard card = card_with({});
    const auto seed = [](const std::string& name, Bytes header, const std::optional<Bytes>& frame) {
        append(header, frame.value_or(Bytes{}));
        write("frames_fuzzer", name, header);
    };
    const Bytes polling = build_polling(kSystemCode, RequestCode::none, 0);
    seed("polling", {0x00, 1, 0x80, 0x2B}, card.respond(polling));
    seed("polling_with_code", {0x01, 1, 0xFF, 0xFF},
         card.respond(build_polling(0xFFFF, RequestCode::system_code, 0)));
    for (const Byte blocks : {Byte{1}, Byte{15}, Byte{16}}) {
        std::vector<BlockListElement> elements;
        for (Byte j = 0; j < blocks; ++j) {
            elements.push_back({0, 0, j});
        }
        const Byte service[] = {0x0F, 0x09};
        const Bytes read = build_read_without_encryption(card.image().idm, service,
                                                         encode_block_list(elements), blocks);
        seed("read_" + std::to_string(blocks), {0x06, blocks, 0x80, 0x2B}, card.respond(read));
        // The block list itself, as the library encodes it.
        seed("block_list_" + std::to_string(blocks), {0x00, blocks, 0x80, 0x2B},
             encode_block_list(elements));
    }
    const Bytes truncated(polling.begin(), polling.end() - 1);
    seed("truncated_polling_request", {0x00, 1, 0x80, 0x2B}, truncated);
}

// A driver that takes no raw frames: every frame dialect refused (6A 81), then the card as a
// storage card: GET DATA twice (start, poll), SELECT FILE, READ BINARY twice, a block refused.
void storage_card_seed() {
    const std::string name = "Sony FeliCa Port/PaSoRi 4.0";
    Bytes out{static_cast<Byte>(name.size())};
    append(out, text(name));
    out.insert(out.end(), {0x00, 3, 24});  // no ATR, 3 exchanges, 100 ms
    const auto reply = [&out](Bytes bytes) {
        out.push_back(static_cast<Byte>(bytes.size()));
        append(out, bytes);
    };
    for (int refused = 0; refused < 3; ++refused) {
        reply({0x6A, 0x81});
    }
    Bytes idm(demo_card().idm.begin(), demo_card().idm.end());
    idm.insert(idm.end(), {0x90, 0x00});
    reply(idm);
    reply(idm);
    reply({0x90, 0x00});
    Bytes block(16, 0xA5);
    block.insert(block.end(), {0x90, 0x00});
    reply(block);
    reply(block);
    reply({0x6A, 0x82});
    write("pcsc_dialects_fuzzer", "storage_card", out);
}

// Data objects in forms the readers do not use: long tags, long-form lengths, a cut length.
void apdu_seeds() {
    write("apdu_fuzzer", "long_tags_and_lengths",
          {0xC2, 0x00, 0x01, 0x03, 0x01, 0x00, 0x5F, 0x46, 0x04, 0x00, 0x00, 0x00, 0x00, 0x97,
           0x81, 0x02, 0xAA, 0xBB, 0x1F, 0x81, 0x01, 0x82, 0x00, 0x01, 0xCC, 0x90, 0x00});
    write("apdu_fuzzer", "cut_length", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x97, 0x82, 0x01});
}

void libnfc_seeds() {
    SimulatedCard card = card_with({});
    const Bytes answer = *card.respond(build_polling(kSystemCode, RequestCode::system_code, 0));
    Bytes info = answer;  // LEN, response code, IDm, PMm, system code: as libnfc keeps them
    const Bytes timeout = {0x40, 0x0D, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00};  // 200 ms
    const auto seed = [&](const std::string& name, Bytes head, std::string_view rest) {
        append(head, timeout);
        append(head, text(rest));
        write("libnfc_frames_fuzzer", name, head);
    };
    seed("polling_with_code_acr122", info, "acr122_usb");
    info[0] = 18;
    seed("polling_pn532", info, "pn532_uart:/dev/ttyUSB0");
    Bytes polling_frame = info;
    append(polling_frame, timeout);
    append(polling_frame, build_polling(kSystemCode, RequestCode::none, 0));
    write("libnfc_frames_fuzzer", "polling_frame", polling_frame);
}

// A whole helper session on the pipes, both ways, and single messages to encode.
void helper_seeds() {
    namespace protocol = libnfc::protocol;
    SimulatedCard card = card_with({});
    const Bytes polling = build_polling(kSystemCode, RequestCode::none, 0);
    const protocol::Message session[] = {
        protocol::OpenRequest{"pn532_uart:/dev/ttyUSB0"},
        protocol::Opened{15, "PN532 over UART"},
        protocol::PollRequest{100'000, polling},
        protocol::TransferDone{RwError::none, *card.respond(polling), {}},
        protocol::ExchangeRequest{100'000, polling},
        protocol::TransferDone{RwError::timeout, {}, "Operation timed out"},
        protocol::CloseRequest{},
        protocol::Closed{},
        protocol::OpenFailed{RwError::no_reader, "libnfc could not open its default device"},
    };
    Bytes stream{0x00};
    for (const protocol::Message& message : session) {
        append(stream, *protocol::encode(message));
    }
    write("helper_protocol_fuzzer", "session", stream);
    write("helper_protocol_fuzzer", "cut_session", Bytes(stream.begin(), stream.end() - 5));
    // Type, error, timeout (2 bytes), length (2 bytes) and the text or frame.
    write("helper_protocol_fuzzer", "open_request",
          {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A, 'a', 'c', 'r', '1', '2', '2', '_', 'u', 's',
           'b'});
    Bytes transfer{0x01, 0x06, 0x00, 0x00, 0x00, 0x00, static_cast<Byte>(polling.size())};
    append(transfer, polling);
    write("helper_protocol_fuzzer", "transfer_done", transfer);
    // A list of the devices instead of a session: one that could be opened, one that could not.
    Bytes listing{0x00};
    append(listing, *protocol::encode(protocol::ListRequest{}));
    append(listing,
           *protocol::encode(protocol::DevicesListed{
               {{"pn532_uart:/dev/ttyUSB0", "PN532 over UART"}, {"acr122_usb:001:004", ""}}}));
    write("helper_protocol_fuzzer", "listing", listing);
    // Type, error, timeout (2 bytes), length (2 bytes) and the text the devices are cut from.
    write("helper_protocol_fuzzer", "devices_listed",
          {0x01, 0x09, 0x00, 0x00, 0x05, 0x00, 0x0C, 'p', 'n', '5', '3', '2', '_', 'u', 'a', 'r',
           't', ':', 'x'});
}

// An RC-S380 session as the Port-100 harness drives it, from the chip's model: each pipe
// operation recorded (00 for a write, a read's length and bytes, FD for a read that times out).
class RecordingPipe final : public rcs380::BulkPipe {
  public:
    RecordingPipe(port100::Port100Model& model, Bytes& out) : model_(model), out_(out) {}
    rcs380::PipeResult write(ByteView bytes, std::chrono::milliseconds) override {
        model_.receive(bytes, now_);
        out_.push_back(model_.unplugged() ? 0xFE : 0x00);
        if (model_.unplugged()) {
            return {rcs380::PipeStatus::no_device, {}, {}};
        }
        return {};
    }
    rcs380::PipeResult read(std::size_t, std::chrono::milliseconds timeout) override {
        const auto due = model_.next_due();
        if (!due || *due > now_ + timeout) {
            now_ += timeout;
            out_.push_back(0xFD);
            return {rcs380::PipeStatus::timeout, {}, {}};
        }
        now_ = std::max(now_, *due);
        Bytes frame = *model_.take_in(now_);
        out_.push_back(static_cast<Byte>(frame.size()));
        append(out_, frame);
        answers.push_back(frame);
        return {rcs380::PipeStatus::ok, frame, {}};
    }
    std::vector<Bytes> answers;

  private:
    port100::Port100Model& model_;
    Bytes& out_;
    port100::Clock::time_point now_{};
};

void port100_seed(const std::string& name, CardFaults faults,
                  std::optional<port100::FaultRule> fault = {}) {
    port100::Port100Model model;
    model.place_card(std::make_shared<SimulatedCard>(card_with(faults)));
    if (fault) {
        model.add_fault(*fault);
    }
    Bytes out{0x01};
    RecordingPipe pipe(model, out);
    rcs380::Port100Chip chip(pipe, Deadline{});
    // The harness's order: reset, five set-up commands, three InCommRF, close.
    (void)chip.reset();
    (void)chip.set_command_type(0x01);
    (void)chip.get_firmware_version();
    (void)chip.switch_rf_off();
    (void)chip.in_set_rf_212f();
    (void)chip.in_set_protocol_defaults();
    for (int i = 0; i < 3; ++i) {
        (void)chip.in_comm_rf(build_polling(kSystemCode, RequestCode::none, 0),
                              std::chrono::milliseconds(100));
    }
    chip.close();
    write("port100_fuzzer", name, out);
    // Each answer also seeds the frame parser: 00, the command's place in the harness's list,
    // the frame.
    static const std::map<Byte, Byte> kPlace = {{0x01, 0}, {0x03, 1}, {0x05, 2},
                                                {0x07, 3}, {0x21, 4}, {0x2B, 5}};
    static std::set<Bytes> seen;  // across sessions
    for (const Bytes& answer : pipe.answers) {
        if (answer.size() < 10 || !kPlace.count(answer[9]) || !seen.insert(answer).second) {
            continue;
        }
        Bytes seed{0x00, kPlace.at(answer[9])};
        append(seed, answer);
        write("port100_fuzzer", "answer_" + std::to_string(seen.size()), seed);
    }
}

void setting_seeds() {
    for (const char* setting :
         {"sim", "sim:card.json", "sim:", "pcsc", "pcsc:ACR122U", "rcs380:001:004", "libnfc",
          "libnfc:pn532_uart:/dev/ttyUSB0", "simulated", "pcsc\x1b[2J"}) {
        std::string name = setting;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        write("reader_setting_fuzzer", name, text(setting));
    }
}

void card_image_seeds(const fs::path& test_data) {
    for (const auto& entry : fs::directory_iterator(test_data)) {
        if (entry.path().extension() == ".json") {
            std::ifstream in(entry.path(), std::ios::binary);
            write("card_image_fuzzer", entry.path().filename().string(),
                  Bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
        }
    }
    // What virude-dump --json writes of a read that failed half-way.
    LoadedCard partial{demo_card(), {}, "simulated reader", ReadOutcome{}};
    partial.image.services.erase(0x108F);
    partial.image.services.erase(0x10CB);
    partial.outcome->exit_code = 5;
    partial.outcome->message = "読み込みエラーです。";
    partial.outcome->rw_error_type = 6;
    partial.outcome->reason = "reading service 0x108F failed on simulated reader (card removed)";
    partial.outcome->failed_services = {0x108F, 0x10CB};
    write("card_image_fuzzer", "json_output_partial", text(card_image_json(partial)));
    write("card_image_fuzzer", "broken_duplicate_key",
          text(R"({"idm":"012E4CD3A1B2C3D4","idm":"012E4CD3A1B2C3D4"})"));
    write("card_image_fuzzer", "broken_unicode_key",
          text(R"({"idm":"012E4CD3A1B2C3D4","pmm":"0120220427674EFF","\u001b[2J":1})"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: seed-writer CORPUS_FOLDER TEST_DATA_FOLDER\n");
        return 2;
    }
    g_root = argv[1];
    frame_seeds();

    using vpcd_card::ReaderModel;
    for (const ReaderModel model :
         {ReaderModel::rcs300, ReaderModel::acr122u, ReaderModel::acr1252u}) {
        const std::string key(vpcd_card::model_key(model));
        pcsc_seed(key + "_demo", model, {});
        pcsc_seed(key + "_silent", model, silent());
        pcsc_seed(key + "_truncated", model, garbled(Garble::truncate));
    }
    storage_card_seed();
    apdu_seeds();
    libnfc_seeds();
    setting_seeds();
    helper_seeds();
    port100_seed("demo", {});
    port100_seed("silent", silent());
    port100_seed("bad_data_checksum", {},
                 port100::FaultRule{port100::Fault::bad_data_checksum, 0x04, 2});
    port100_seed("no_answer", {}, port100::FaultRule{port100::Fault::no_answer, 0x04, 1});
    port100_seed("unplugged", {}, port100::FaultRule{port100::Fault::unplugged, 0x04, 1});
    card_image_seeds(argv[2]);

    click_seed("demo", {});
    click_seed("four_blocks_per_read", {}, 4);
    click_seed("removed_after_3", removed_after(3));
    click_seed("silent", silent());
    click_seed("wrong_block_count", garbled(Garble::wrong_block_count));
    click_seed("wrong_idm", garbled(Garble::wrong_idm));
    write("click_fuzzer", "reader_not_opened", {0x03, 0x05, 'n', 'o', 0x1B, '[', 'J', 0x03, 0x00});
    return 0;
}
