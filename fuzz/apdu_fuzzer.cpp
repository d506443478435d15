// Response APDUs and BER-TLV data objects from PC/SC readers; the reader command builder and
// the BER length writer, checked by parsing what they build.
// Input: INS, P1, P2, flags, a 2-byte number, then the bytes parsed as a response APDU and as
// data objects, and carried by a reader command.
#include <algorithm>

#include "felica/pcsc/apdu.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace felica;
using namespace felica::pcsc;

void check_split(ByteView response) {
    const auto apdu = split_response(response);
    FUZZ_CHECK(apdu.has_value() == (response.size() >= 2));
    if (apdu) {
        FUZZ_CHECK(apdu->data.data() == response.data() &&
                   apdu->data.size() == response.size() - 2);
        FUZZ_CHECK(apdu->sw == ((response[response.size() - 2] << 8) | response.back()));
    }
}

// A tag as its bytes, first byte highest (a tag 00 is one byte).
void append_tag(Bytes& out, std::uint32_t tag) {
    int shift = 24;
    while (shift > 0 && (tag >> shift) == 0) {
        shift -= 8;
    }
    for (; shift >= 0; shift -= 8) {
        out.push_back(static_cast<Byte>(tag >> shift));
    }
}

void check_data_objects(ByteView data) {
    const auto objects = parse_data_objects(data);
    if (!objects) {
        return;
    }
    // Each value lies inside the data, after the one before it.
    const Byte* after_last = data.data();
    Bytes canonical;
    for (const DataObject& object : *objects) {
        FUZZ_CHECK(object.value.data() >= after_last);
        FUZZ_CHECK(object.value.data() + object.value.size() <= data.data() + data.size());
        after_last = object.value.data() + object.value.size();
        append_tag(canonical, object.tag);
        append_ber_length(canonical, object.value.size());
        canonical.insert(canonical.end(), object.value.begin(), object.value.end());
    }
    FUZZ_CHECK(objects->empty() == data.empty());
    // Written again in the shortest forms, the objects parse back to the same tags and values.
    FUZZ_CHECK(canonical.size() <= data.size());
    const auto again = parse_data_objects(canonical);
    FUZZ_CHECK(again && again->size() == objects->size());
    for (std::size_t i = 0; i < objects->size(); ++i) {
        FUZZ_CHECK((*again)[i].tag == (*objects)[i].tag);
        FUZZ_CHECK(std::equal((*again)[i].value.begin(), (*again)[i].value.end(),
                              (*objects)[i].value.begin(), (*objects)[i].value.end()));
        FUZZ_CHECK(find_data_object(*objects, (*objects)[i].tag) != nullptr);
    }
}

// A command carries its data with the right Lc, or is refused when Lc cannot tell the length.
void check_reader_command(Byte ins, Byte p1, Byte p2, ByteView data, bool with_le) {
    const std::optional<Bytes> command = reader_command(ins, p1, p2, data, with_le);
    FUZZ_CHECK(command.has_value() == (data.size() <= 255));
    if (!command) {
        return;
    }
    FUZZ_CHECK(command->size() == 5 + data.size() + (with_le ? 1 : 0));
    FUZZ_CHECK((*command)[0] == 0xFF && (*command)[1] == ins && (*command)[2] == p1 &&
               (*command)[3] == p2);
    FUZZ_CHECK((*command)[4] == data.size());
    FUZZ_CHECK(std::equal(data.begin(), data.end(), command->begin() + 5));
    FUZZ_CHECK(!with_le || command->back() == 0x00);
}

// A BER length written for `length` zero bytes reads back as that many.
void check_ber_length(std::size_t length) {
    Bytes object{0x53};
    append_ber_length(object, length);
    FUZZ_CHECK(object.size() == 1 + (length < 0x80 ? 1 : length <= 0xFF ? 2 : 3));
    object.resize(object.size() + length, 0x00);
    const auto parsed = parse_data_objects(object);
    FUZZ_CHECK(parsed && parsed->size() == 1 && (*parsed)[0].tag == 0x53 &&
               (*parsed)[0].value.size() == length);
}

void check_blocks_fitting(std::size_t room) {
    const int blocks = blocks_fitting(room);
    FUZZ_CHECK(blocks >= 1 && blocks <= kMaxBlocksPerFrame);
    const auto answer = [](int n) { return 13 + kBlockSize * static_cast<std::size_t>(n); };
    FUZZ_CHECK(blocks == 1 || answer(blocks) <= room);
    FUZZ_CHECK(blocks == kMaxBlocksPerFrame || answer(blocks + 1) > room);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const Byte ins = input.byte();
    const Byte p1 = input.byte();
    const Byte p2 = input.byte();
    const Byte flags = input.byte();
    const auto number = static_cast<std::size_t>((input.byte() << 8) | input.byte());
    const ByteView bytes = input.rest();

    check_split(bytes);
    check_data_objects(bytes);
    check_reader_command(ins, p1, p2, bytes, flags & 1);
    // Long lengths cost a buffer of their size: only when asked for.
    check_ber_length((flags & 2) ? number : number & 0x1FF);
    check_blocks_fitting(number);
    return 0;
}
