// Test stand-ins for the units a session hands its frames and events to:
// the event ring, the UDP transport and the control line. They record what
// they are given; being weak, the real units replace them where linked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kmod/sctrl.h"

namespace kmod_testing {

struct Event {
  int32_t sid;
  std::vector<uint8_t> bytes;
};

struct Datagram {
  sctrl_session *session;
  std::vector<uint8_t> bytes;  // wire header then frame
};

struct Delivery {
  sctrl_session *session;
  std::vector<uint8_t> frame;
};

struct Recorder {
  std::vector<Event> events;
  std::vector<Datagram> sent;
  std::vector<Delivery> delivered;
  bool ring_full = false;
  void clear();
};

Recorder &recorder();

// The kernel log entries since the last call, which clears them.
std::vector<std::string> take_log();

// Runs one frame through crypter_outstream_put as the sending thread would
// (in a 2048-byte slot) and returns the datagram sent, if any.
std::optional<std::vector<uint8_t>> send_frame(sctrl_session *s, const std::vector<uint8_t> &frame);

// Runs one datagram through crypter_instream_put and returns the frame
// delivered up the line, if any.
std::optional<std::vector<uint8_t>> receive_datagram(sctrl_session *s,
                                                     const std::vector<uint8_t> &datagram);

}  // namespace kmod_testing
