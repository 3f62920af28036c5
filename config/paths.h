// The system's fixed file names. Every shipped binary uses these; classes that
// touch them take a path or root argument so unit tests can point elsewhere.
#pragma once

namespace Paths {

inline constexpr const char *kEtcDir = "/etc/yrk";
inline constexpr const char *kDefConfig = "/etc/yrk/defconfig";
inline constexpr const char *kSystemConfig = "/etc/yrk/cfg";
inline constexpr const char *kCaStore = "/etc/yrk/cert/ca";
inline constexpr const char *kCrlStore = "/etc/yrk/cert/crl";
inline constexpr const char *kFileList = "/etc/yrk/filelist";
inline constexpr const char *kChecksum = "/etc/yrk/.csum";
inline constexpr const char *kEventLog = "/var/log/yrk.log";
inline constexpr const char *kResolvConf = "/etc/resolv.conf";

// Command channel between impex and the connection daemon.
inline constexpr const char *kClientSocket = "/tmp/yrkcmds.soc";
inline constexpr const char *kDaemonSocket = "/tmp/yrkcmdm.soc";
inline constexpr const char *kSemaphore = "yrk_sem";

// Per-user tree below the home directory.
inline constexpr const char *kUserDir = ".yrk";
inline constexpr const char *kUserConfig = ".yrk/cfg";
inline constexpr const char *kUserCertDir = ".yrk/cert";
inline constexpr const char *kUserCertStore = ".yrk/cert/user";
inline constexpr const char *kUserKeyDir = ".yrk/key";

// Random sources.
inline constexpr const char *kBoardRng = "/dev/tvk_rng";
inline constexpr const char *kUrandom = "/dev/urandom";

}  // namespace Paths
