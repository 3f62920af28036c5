// Command numbers of UI::SendCommand. 3, 11 and 14 are not assigned; any
// number without a handler gives ResultCode::kInvalidParameters.
#pragma once

namespace UserInterface::Command {

inline constexpr int kConnect = 1;
inline constexpr int kDisconnect = 2;
inline constexpr int kStats = 4;
inline constexpr int kEvents = 5;
inline constexpr int kAddAccount = 6;
inline constexpr int kDelAccount = 7;
inline constexpr int kModifyAccount = 8;
inline constexpr int kAddCert = 9;
inline constexpr int kDelCert = 10;
inline constexpr int kSetParams = 12;    // from the bag
inline constexpr int kResetParams = 13;  // to the default values
inline constexpr int kAddServer = 15;
inline constexpr int kDelServer = 16;

}  // namespace UserInterface::Command
