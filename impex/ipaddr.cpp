#include "impex/ipaddr.h"

#include <cstdlib>

int string2ipaddr(const char *text, uint32_t &address, uint16_t *port) {
  uint32_t octets[4] = {0, 0, 0, 0};
  int dots = 0;
  for (const char *p = text; *p; ++p) {
    const char c = *p;
    if (c == ' ') continue;
    if (c >= '0' && c <= '9') {
      octets[dots] = octets[dots] * 10 + static_cast<uint32_t>(c - '0');
      if (octets[dots] >= 256) return -1;
    } else if (c == '.') {
      if (dots == 3) return -1;
      ++dots;
    } else if (dots < 3) {
      return -1;
    } else if (c == ':' && port) {
      // strtol rather than atoi: the same reading, but no overflow on long digit runs.
      const long value = std::strtol(p + 1, nullptr, 10);
      if (value < 0 || value > 65535) return -1;
      *port = static_cast<uint16_t>(value);
      break;
    }
  }
  address = octets[0] << 24 | octets[1] << 16 | octets[2] << 8 | octets[3];
  return 0;
}
