// Sends one request to the connection daemon and waits for its final answer
// while a reader thread hands every notification to the listener.
#pragma once

#include <pthread.h>

#include <atomic>
#include <functional>
#include <string>

#include "channel/clock.h"
#include "channel/issuer_listener.h"
#include "channel/message.h"
#include "channel/unix_socket.h"
#include "config/paths.h"

namespace UserInterface {

class CmdIssuer {
 public:
  static constexpr long kIdleTimeout = 60;  // seconds without a daemon message
  // Whole seconds since a fixed origin; tests pass a faster one.
  using SecondsClock = std::function<long()>;

  // The socket's exceptions pass to the caller. Paths and the clock are
  // parameters for tests only; the listener may be null.
  explicit CmdIssuer(IssuerListener *listener, const std::string &local_path = Paths::kClientSocket,
                     const std::string &daemon_path = Paths::kDaemonSocket,
                     SecondsClock clock = Time);
  virtual ~CmdIssuer() = default;
  CmdIssuer(const CmdIssuer &) = delete;
  CmdIssuer &operator=(const CmdIssuer &) = delete;

  // Sends the request and waits for the exchange to end: the value of the
  // daemon's AnswerKind::kValue, 0 for AnswerKind::kEnd, ResultCode::kSystemError
  // for a channel failure, ResultCode::kTimedOut after the idle time-out. A
  // cancel from the listener turns a pending connect into a disconnect, sent
  // once.
  int Put(Message &msg);
  // Receives one message; its payload byte count, or -1.
  int Get(Message &out);
  // The reader loop: hands every message to the listener until AnswerKind::kEnd
  // or kValue or a failure. Put ends a reader still waiting by stopping the
  // socket's receiving side, then joins it.
  void Proc();

 private:
  bool Send(const Message &msg);

  UnixSocket socket;
  // Written by the reader, read by the polling caller.
  std::atomic<long> last_activity{0};
  std::atomic<bool> done{false};
  std::atomic<int> result{0};
  IssuerListener *listener;
  SecondsClock clock;
};

// Reader thread entry: runs Proc on the CmdIssuer passed in.
void *thread_func(void *issuer);

}  // namespace UserInterface
