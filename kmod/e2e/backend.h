// What the end-to-end checks need of a loaded module: the daemon's side of
// the control device and the host's output path. One implementation drives
// the module built for user space in this process, the other the kernel
// module through its device nodes; the checks are the same for both.
#pragma once

#include <cstdint>
#include <string>

#include "kmod/e2e/frames.h"
#include "kmod/records.h"

namespace kmod_e2e {

class Backend {
 public:
  virtual ~Backend() = default;
  // Opens line index of the control device (one frame per read); a handle or -1.
  virtual int open_line(int index) = 0;
  virtual void close_line(int line) = 0;
  // The module's result: 0 or more, or a negative error number.
  virtual int ioctl(int line, unsigned int cmd, const void *arg = nullptr) = 0;
  // One whole frame: its length, or a negative result.
  virtual int write(int line, const Bytes &frame) = 0;
  // The next frame delivered up the line, or empty after timeout_ms.
  virtual Bytes read(int line, int timeout_ms) = 0;
  // Whether an IPv4 UDP packet to dst (dotted quad) may leave the host.
  virtual bool ipv4_leaves(const char *dst) = 0;
  // Whether IPv6 leaves by loopback (or else by another device): 1 or 0,
  // -1 when this host cannot tell.
  virtual int ipv6_leaves(bool loopback) = 0;
  // How long to wait for the module, in milliseconds (emulated machines are slow).
  virtual int patience_ms() const { return 2000; }
};

// The access server's keys the checks install.
crypt_setup test_keys();

// Runs the whole-tunnel checks on line 0 against a libgcrypt access server
// on 127.0.0.1, printing one "ok - ..." or "not ok - ..." line per check;
// returns the number that failed.
int run_tunnel_checks(Backend &backend);

}  // namespace kmod_e2e
