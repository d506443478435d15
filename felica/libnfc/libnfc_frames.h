// What libnfc takes and gives for FeliCa: the polling payload it wants, the polling answer
// it decodes into nfc_felica_info and the blocks a device's frames hold.
#pragma once

#include <nfc/nfc-types.h>

#include <optional>
#include <string_view>

#include "felica/types.h"

namespace felica::libnfc {

// The 5 bytes nfc_initiator_select_passive_target wants for FeliCa (00 SChi SClo RC TSN):
// the polling frame without its LEN byte. Nothing when `frame` is not a polling frame.
std::optional<Bytes> polling_payload(ByteView frame);

// The card's polling answer (LEN 01 IDm PMm [system code]) rebuilt from what libnfc
// decoded of it.
Bytes polling_answer(const nfc_felica_info& info);

// The most blocks one read may ask for through the device `connstring` names: 15 fill the
// PN532's and PN533's extended frames (265 bytes); ACR122 readers carry one block less.
int max_blocks_for(std::string_view connstring);

}  // namespace felica::libnfc
