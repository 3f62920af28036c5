// The stand-in daemon's answers, per request kind, read from a script:
//
//   <kind>: <step>; <step>; ...     answer a request of that kind
//   *: <step>; ...                  answer any kind without its own line
//   # comment
//
// Steps, run in order for each request:
//   text <kind> "<text>"   message with the text and its NUL (\" \\ \n escapes)
//   int <kind> <value>     message with one 32-bit value
//   state <byte>           kind 8 with a 180-byte session state of that byte
//   hex <kind> <hex>       message with these payload bytes
//   raw <hex>              one datagram of exactly these bytes (malformed
//                          answers for tests)
//   sleep <milliseconds>
//   silent                 no answer at all (alone on its line)
//
// Lines for the same kind add up. A kind the script does not name, when
// there is no "*" line either, gets what a daemon that succeeds would say:
//   1 (connect):     text 6 "Подключение..."; a kind-8 state; text 0
//                    "Соединение установлено"
//   2 (disconnect):  text 0 "Соединение разорвано"
//   3 (statistics):  a kind-8 state; int 7 0
//   any other kind:  int 7 0
// The default state is a session that is up, account "stand-in", no counters.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <optional>
#include <vector>

struct Step {
  enum class Type { kMessage, kRaw, kSleep };
  Type type;
  int kind;                    // kMessage
  std::vector<uint8_t> bytes;  // payload (kMessage) or datagram (kRaw)
  int delay_ms;                // kSleep
};

class Script {
 public:
  // Throws std::runtime_error "line N: ..." for a malformed script.
  static Script Parse(std::istream &in);

  const std::vector<Step> &Answer(int kind) const;

 private:
  std::map<int, std::vector<Step>> rules;
  std::optional<std::vector<Step>> fallback;
};
