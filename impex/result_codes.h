// Result codes of every operation: 0 or more is success, a negative value a
// failure. The small ones are negated errno numbers, used in the program's own
// sense; MsgCompiler::HandleError gives the user's text for each.
// Beside MsgCompiler (yrk_messages) so that config/ and channel/ may include it too.
#pragma once

namespace ResultCode {

inline constexpr int kOk = 0;
// Certificate stores and chains: no such entry, a full store, a short read,
// an empty chain.
inline constexpr int kNotFound = -1;

// Negated errno numbers.
inline constexpr int kHandlerFailed = -4;    // EINTR: an exception inside a command handler
inline constexpr int kCommandFailed = -5;    // EIO: shown with the same text as kHandlerFailed
inline constexpr int kNeedRoot = -13;        // EACCES: the operation needs the superuser
inline constexpr int kUnknownError = -14;    // EFAULT: semaphore not open, storage or RNG failure
inline constexpr int kSemaphoreBusy = -16;   // EBUSY: command semaphore not obtained; no text of its own
inline constexpr int kAlreadyExists = -17;   // EEXIST: account, server or certificate
inline constexpr int kInvalidParameters = -22;  // EINVAL: also a command number without a handler
inline constexpr int kNameTooLong = -36;     // ENAMETOOLONG: more than 64 characters

// The program's own codes. -1036 is not assigned; -1028 to -1031 are chain
// verification's results, which the command layer turns into -1023 to -1027
// and which have no text of their own.
inline constexpr int kLogUnreadable = -1000;
inline constexpr int kUnknownUser = -1001;           // a user the system does not know
inline constexpr int kPasswordTooLong = -1002;       // more than 64 characters
inline constexpr int kKeyStoreMissing = -1003;       // key store directory not mounted
inline constexpr int kNoAccountToConnect = -1004;    // connect or disconnect names no account
inline constexpr int kCertNotStored = -1005;         // adding a certificate to a store failed
inline constexpr int kAccountNotFound = -1006;       // no account of that name in the configuration
inline constexpr int kNoServerAddress = -1007;       // the account has no server address
inline constexpr int kCertStoreFailed = -1008;
inline constexpr int kKeyWriteFailed = -1009;        // writing the private key
inline constexpr int kRequestWriteFailed = -1010;    // writing the certificate request file
inline constexpr int kServerNotTrusted = -1011;      // not among the trusted servers
inline constexpr int kServerChainInvalid = -1012;
inline constexpr int kCertExpired = -1013;
inline constexpr int kChainIntegrityFailed = -1014;
inline constexpr int kChainRevoked = -1015;          // a revoked certificate in the server's chain
inline constexpr int kServerKeyUsageInvalid = -1016;
inline constexpr int kServerCertRejected = -1017;
inline constexpr int kCheckValueMismatch = -1018;
inline constexpr int kEapExchangeFailed = -1019;
inline constexpr int kNetworkListFailed = -1020;     // list of protected networks not received
inline constexpr int kAuthorizationRefused = -1021;
inline constexpr int kTimedOut = -1022;              // the daemon was silent too long
inline constexpr int kUserCertPeriodInvalid = -1023; // not yet valid or expired
inline constexpr int kUserCertNoCa = -1024;          // no CA certificates for it
inline constexpr int kUserChainRevoked = -1025;
inline constexpr int kUserCertSignatureInvalid = -1026;
inline constexpr int kUserKeyUsageInvalid = -1027;
inline constexpr int kVerifyOutOfValidity = -1028;  // the certificate or an issuer
inline constexpr int kVerifyIntegrity = -1029;      // no issuer verifies it; unreadable, not GOST, a cycle
inline constexpr int kVerifyRevoked = -1030;
inline constexpr int kVerifyKeyUsage = -1031;
inline constexpr int kIntegrityViolated = -1032;     // files changed
inline constexpr int kIntegrityCheckFailed = -1033;  // the check itself could not run
inline constexpr int kConnectionFailed = -1034;
inline constexpr int kSystemError = -1035;           // channel failure; exception at the entry
inline constexpr int kMtuTooLarge = -1037;
inline constexpr int kKeyReadFailed = -1038;
inline constexpr int kServerNotFound = -1039;        // no trusted server of that name
inline constexpr int kKeyGenerationFailed = -1040;

}  // namespace ResultCode
