#include "kmod/testing/recorder.h"

#include <cstring>
#include <stdexcept>

#include "kmod/crypter.h"
#include "kmod/stbuff.h"
#include "kmod/ttysim.h"
#include "kmod/udpt.h"
#include "kmod/user/controls_user.h"

namespace kmod_testing {

namespace {

// Copies bytes into a ring slot as the line or the transport would; they
// never hand over more than a slot holds.
void fill(stbuff_slot &slot, const std::vector<uint8_t> &bytes) {
  if (bytes.size() > sizeof(slot.data)) throw std::length_error("more than a ring slot holds");
  if (!bytes.empty()) std::memcpy(slot.data, bytes.data(), bytes.size());
}
}  // namespace

void Recorder::clear() {
  events.clear();
  sent.clear();
  delivered.clear();
  ring_full = false;
}

Recorder &recorder() {
  static Recorder r;
  return r;
}

std::vector<std::string> take_log() {
  std::vector<std::string> lines;
  for (size_t i = 0; i < user_log_count(); ++i) {
    std::string line(user_log_entry(i, nullptr, 0), '\0');
    user_log_entry(i, line.data(), line.size() + 1);
    lines.push_back(line);
  }
  user_log_clear();
  return lines;
}

std::optional<std::vector<uint8_t>> send_frame(sctrl_session *s, const std::vector<uint8_t> &frame) {
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

std::optional<std::vector<uint8_t>> receive_datagram(sctrl_session *s,
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

using kmod_testing::recorder;

extern "C" {

__attribute__((weak)) int stbuff_logger_put(s32 sid, const void *event, s32 len) {
  if (recorder().ring_full) return -1;
  auto *bytes = static_cast<const uint8_t *>(event);
  recorder().events.push_back({sid, std::vector<uint8_t>(bytes, bytes + len)});
  return 0;
}

__attribute__((weak)) void udpt_outstream_put(sctrl_session *s) {
  std::vector<uint8_t> bytes(s->out.header, s->out.header + s->out.header_len);
  bytes.insert(bytes.end(), s->out.data, s->out.data + s->out.len);
  recorder().sent.push_back({s, bytes});
}

__attribute__((weak)) void ttysim_instream_put(sctrl_session *s) {
  recorder().delivered.push_back({s, std::vector<uint8_t>(s->in.data, s->in.data + s->in.len)});
}

}  // extern "C"
