// Fills the outbound ring of a keyed session and deletes the session at
// once, so that the guest's init unloads the module right after this program
// while frames are still queued. Prints "queued-frames W S": W frames
// written, S of them sent before the session went. Every later frame is
// either logged by the sending thread as without session, or was still in the
// ring at unload.
#include "kmod/peer/peer.h"
#include "kmod/records.h"
#include "tests/kernel/guest/ktest.h"

using namespace ktest;

int main() {
  Udp server;
  Line line(0);
  session_setup s{};
  s.sid = 99;
  s.peer_addr = s.local_addr = 0x7F000001;
  s.peer_port = server.port();
  s.local_port = free_port();
  crypt_setup keys{};
  std::memcpy(keys.sbox, kmod_peer::kSBoxCryptoProA.data(), 64);
  for (int i = 0; i < 32; ++i) keys.key[i] = static_cast<uint8_t>(i * 7 + 1);
  if (!check(line.ok() && line.ioctl_(TTYSIM_CREATE_SESSION, &s) == 0 &&
                 line.ioctl_(TTYSIM_SETUP_KEYS, &keys) == 0,
             "keyed session for the unload run"))
    return 1;
  const int frames = 1000;
  int written = 0;
  for (int i = 0; i < frames; ++i) written += line.write(ipv4_frame(1500, 64, i)) == 1500;
  line.ioctl_(TTYSIM_DELETE_SESSION);
  // Loopback delivers in the sender's context: what was sent is queued here.
  int sent = 0;
  Bytes d;
  while (server.receive(d, 0)) ++sent;
  check(written == frames, "frames written before the session went: " + std::to_string(written));
  std::printf("queued-frames %d %d\n", written, sent);
  return 0;
}
