// Frames through the crypter as the worker threads hand them over, with the
// transport and the line recorded by their stand-ins.
#pragma once

#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

#include "kmod/crypter.h"
#include "kmod/stbuff.h"
#include "kmod/testing/recorder.h"

namespace kmod_testing {

// Copies bytes into a ring slot as the line or the transport would; they
// never hand over more than a slot holds.
inline void fill(stbuff_slot &slot, const std::vector<uint8_t> &bytes) {
  if (bytes.size() > sizeof(slot.data)) throw std::length_error("more than a ring slot holds");
  if (!bytes.empty()) std::memcpy(slot.data, bytes.data(), bytes.size());
}

// Runs one frame through crypter_outstream_put as the sending thread would
// (in a 2048-byte slot) and returns the datagram sent, if any.
inline std::optional<std::vector<uint8_t>> send_frame(sctrl_session *s, const std::vector<uint8_t> &frame) {
  static stbuff_slot slot;
  fill(slot, frame);
  size_t before = recorder().sent.size();
  if (s) {
    s->out = sctrl_outframe{slot.data, static_cast<int32_t>(frame.size()), &slot.header, 0, -1};
  }
  crypter_outstream_put(s);
  if (recorder().sent.size() == before) return std::nullopt;
  return recorder().sent.back().bytes;
}

// Runs one datagram through crypter_instream_put and returns the frame
// delivered up the line, if any.
inline std::optional<std::vector<uint8_t>> receive_datagram(sctrl_session *s,
                                                     const std::vector<uint8_t> &datagram) {
  static stbuff_slot slot;
  fill(slot, datagram);
  size_t before = recorder().delivered.size();
  if (s) s->in = sctrl_inframe{slot.data, static_cast<int32_t>(datagram.size())};
  crypter_instream_put(s);
  if (recorder().delivered.size() == before) return std::nullopt;
  return recorder().delivered.back().frame;
}

}  // namespace kmod_testing
