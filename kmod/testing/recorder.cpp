#include "kmod/testing/recorder.h"

#include <cstring>
#include <stdexcept>

#include "kmod/stbuff.h"
#include "kmod/user/controls_user.h"

namespace kmod_testing {

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

}  // namespace kmod_testing
