// What the stand-ins for the event ring, the UDP transport and the control
// line (fake_*.cpp) were given. A test executable links the fakes of the
// units it does not test, and never the real ones beside them: a unit and
// its fake in one link is a duplicate symbol, a missing one is unresolved.
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

}  // namespace kmod_testing
