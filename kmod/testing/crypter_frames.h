// Frames through the crypter as the worker threads hand them over, with the
// transport and the line recorded by their stand-ins.
#pragma once

#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
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

// A worker thread's batch, freed (and wiped) at the end of its scope.
struct BatchDeleter {
  void operator()(crypter_batch *b) const { crypter_batch_free(b); }
};
using Batch = std::unique_ptr<crypter_batch, BatchDeleter>;

inline Batch make_batch() {
  Batch b(crypter_batch_alloc());
  if (!b) throw std::bad_alloc();
  return b;
}

// Frames or datagrams of one batch, each with its session, in ring order.
using BatchInput = std::vector<std::pair<sctrl_session *, std::vector<uint8_t>>>;

// Slots of a batch, each buffer exactly as long as a slot's data.
inline std::vector<stbuff_slot> &batch_slots() {
  static std::vector<stbuff_slot> slots(GOST_LANES_MAX);
  return slots;
}

// Runs the frames through crypter_outstream_batch as the sending thread
// would (update_ttl first); the datagrams sent, in order.
inline std::vector<Datagram> send_batch(crypter_batch *b, const BatchInput &in) {
  if (in.size() > GOST_LANES_MAX) throw std::length_error("more than a batch holds");
  b->n = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    stbuff_slot &slot = batch_slots()[i];
    fill(slot, in[i].second);
    crypter_frame &f = b->f[b->n++];
    f = crypter_frame{in[i].first, slot.data, static_cast<int32_t>(in[i].second.size()), &slot.header, -1};
    sctrl_outframe probe{f.data, f.len, f.header, 1, -1};
    f.ttl = update_ttl(&probe);
  }
  size_t before = recorder().sent.size();
  crypter_outstream_batch(b);
  return std::vector<Datagram>(recorder().sent.begin() + static_cast<long>(before), recorder().sent.end());
}

// Runs the datagrams through crypter_instream_batch; the frames delivered,
// in order.
inline std::vector<Delivery> receive_batch(crypter_batch *b, const BatchInput &in) {
  if (in.size() > GOST_LANES_MAX) throw std::length_error("more than a batch holds");
  b->n = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    stbuff_slot &slot = batch_slots()[i];
    fill(slot, in[i].second);
    b->f[b->n++] = crypter_frame{in[i].first, slot.data, static_cast<int32_t>(in[i].second.size()), nullptr, 0};
  }
  size_t before = recorder().delivered.size();
  crypter_instream_batch(b);
  return std::vector<Delivery>(recorder().delivered.begin() + static_cast<long>(before), recorder().delivered.end());
}

}  // namespace kmod_testing
