// Kinds of the messages on the daemon channel. Requests and answers are
// numbered apart: 6 and 7 mean one thing going to the daemon and another
// coming back.
#pragma once

// What the command layer asks of the daemon.
namespace RequestKind {

inline constexpr int kConnect = 1;
inline constexpr int kDisconnect = 2;  // also a pending connect withdrawn on cancel
inline constexpr int kStatistics = 3;
inline constexpr int kParameters = 6;  // one 44-byte connection record
inline constexpr int kLog = 7;         // an event for the daemon to write

}  // namespace RequestKind

// What the daemon sends back: notifications, then kEnd or kValue.
namespace AnswerKind {

inline constexpr int kOtherText = -1;  // printed like kText
inline constexpr int kEnd = 0;         // a text too; ends the exchange with 0
inline constexpr int kText = 6;
inline constexpr int kValue = 7;       // one int32; ends the exchange with it as the result
inline constexpr int kState = 8;       // a 180-byte session state

}  // namespace AnswerKind
