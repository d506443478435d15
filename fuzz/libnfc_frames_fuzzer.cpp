// What libnfc hands back for FeliCa: the polling answer rebuilt from the target libnfc
// decoded (its LEN comes from the chip unchecked), the polling payload, the millisecond
// timeouts and the blocks per read a connection string allows.
// Input: the target's LEN, response code, IDm, PMm and system code (19 bytes), a timeout in
// µs (8 bytes), then bytes taken as a polling frame and as a connection string.
#include <algorithm>
#include <climits>
#include <cstring>

#include "felica/frames.h"
#include "felica/libnfc/libnfc_frames.h"
#include "felica/libnfc/libnfc_timing.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace felica;

void check_polling_answer(const nfc_felica_info& info) {
    const Bytes answer = libnfc::polling_answer(info);
    FUZZ_CHECK(answer.size() == (info.szLen > 18 ? 20u : 18u));
    FUZZ_CHECK(answer[0] == static_cast<Byte>(info.szLen) && answer[1] == info.btResCode);

    // The rebuilt answer passes the library's validation only when libnfc's target was a
    // card's answer of the kind asked for, and then carries its IDm and PMm.
    const PollingParse plain = parse_polling_response(answer, RequestCode::none, kSystemCode);
    FUZZ_CHECK((plain.error == FrameError::none) == (info.szLen == 18 && info.btResCode == 0x01));
    if (plain.error == FrameError::none) {
        FUZZ_CHECK(std::equal(plain.response.idm.begin(), plain.response.idm.end(), info.abtId));
        FUZZ_CHECK(std::equal(plain.response.pmm.begin(), plain.response.pmm.end(), info.abtPad));
    }
    const PollingParse coded = parse_polling_response(answer, RequestCode::system_code, 0xFFFF);
    FUZZ_CHECK((coded.error == FrameError::none) == (info.szLen == 20 && info.btResCode == 0x01));
    if (coded.error == FrameError::none) {
        FUZZ_CHECK(*coded.response.system_code == ((info.abtSysCode[0] << 8) | info.abtSysCode[1]));
    }
}

void check_polling_payload(ByteView frame) {
    const auto payload = libnfc::polling_payload(frame);
    if (!payload) {
        return;
    }
    FUZZ_CHECK(frame.size() == 6 && frame[0] == 6 && frame[1] == 0x00);
    FUZZ_CHECK(std::equal(payload->begin(), payload->end(), frame.begin() + 1, frame.end()));
}

void check_timeout(std::int64_t us) {
    const int ms = libnfc::timeout_ms(std::chrono::microseconds{us});
    // Never 0, which libnfc takes as "wait forever", and never shorter than asked.
    FUZZ_CHECK(ms >= libnfc::kMinTimeout.count());
    if (us > 0 && us / 1000 < INT_MAX) {
        FUZZ_CHECK(static_cast<std::int64_t>(ms) * 1000 >= us);
    }
}

void check_blocks(std::string_view connstring) {
    const int blocks = libnfc::max_blocks_for(connstring);
    FUZZ_CHECK(blocks == (connstring.starts_with("acr122") ? 14 : 15));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    nfc_felica_info info{};
    info.szLen = input.byte();
    info.btResCode = input.byte();
    const auto copy = [&input](std::uint8_t* out, std::size_t n) {
        const ByteView bytes = input.take(n);
        std::copy(bytes.begin(), bytes.end(), out);
    };
    copy(info.abtId, sizeof info.abtId);
    copy(info.abtPad, sizeof info.abtPad);
    copy(info.abtSysCode, sizeof info.abtSysCode);
    std::int64_t us = 0;
    const ByteView time = input.take(sizeof us);
    if (!time.empty()) {
        std::memcpy(&us, time.data(), time.size());
    }
    const ByteView rest = input.rest();

    check_polling_answer(info);
    check_polling_payload(rest);
    check_timeout(us);
    check_blocks(std::string_view(reinterpret_cast<const char*>(rest.data()), rest.size()));
    return 0;
}
