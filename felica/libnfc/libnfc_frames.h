// What libnfc takes and gives for FeliCa: the polling payload it wants, the polling answer
// it decodes into nfc_felica_info, its millisecond timeouts and the blocks a device's
// frames hold.
#pragma once

#include <nfc/nfc-types.h>

#include <chrono>
#include <optional>
#include <string_view>

#include "felica/types.h"

namespace felica::libnfc {

// libnfc waits this long at least: shorter waits misbehave on USB readers.
inline constexpr std::chrono::milliseconds kMinTimeout{300};
// Time a serial or USB reader adds to each command: two frames of up to 265 bytes at
// 115200 baud take about 23 ms each way, plus the chip's own work.
inline constexpr std::chrono::milliseconds kReaderOverhead{50};

// The 5 bytes nfc_initiator_select_passive_target wants for FeliCa (00 SChi SClo RC TSN):
// the polling frame without its LEN byte. Nothing when `frame` is not a polling frame.
std::optional<Bytes> polling_payload(ByteView frame);

// The card's polling answer (LEN 01 IDm PMm [system code]) rebuilt from what libnfc
// decoded of it.
Bytes polling_answer(const nfc_felica_info& info);

// A wait for libnfc in whole milliseconds: rounded up, at least kMinTimeout, never 0
// (which libnfc takes as "wait forever").
int timeout_ms(std::chrono::microseconds timeout);

// The most blocks one read may ask for through the device `connstring` names: 15 fill the
// PN532's and PN533's extended frames (265 bytes); ACR122 readers carry one block less.
int max_blocks_for(std::string_view connstring);

}  // namespace felica::libnfc
