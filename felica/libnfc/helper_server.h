// The libnfc helper's side of the pipes: one reader session served request by request.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "felica/libnfc/helper_protocol.h"
#include "felica/reader_backend.h"

namespace felica::libnfc {

using DeviceOpener = std::function<OpenedReader(const std::optional<std::string>& connstring)>;
// The devices libnfc sees (protocol::DevicesListed), or why it could not look
// (protocol::OpenFailed).
using DeviceLister = std::function<protocol::Message()>;

// Exit statuses of the helper.
inline constexpr int kServedSession = 0;
inline constexpr int kProtocolBroken = 2;  // the program sent what is not a request in turn
inline constexpr int kPipeBroken = 3;      // the replies could not be written

// Reads requests from the file descriptor `requests` and writes one reply for each to
// `replies`, opening the reader with `open` (or listing the devices with `list`). Returns an
// exit status once the session is closed, a device failed to open, the devices were listed,
// or the program goes away (the reader is closed then too).
int serve_session(int requests, int replies, const DeviceOpener& open,
                  const DeviceLister& list = {});

}  // namespace felica::libnfc
