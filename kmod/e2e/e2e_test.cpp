// The end-to-end checks against the module built for user space; the kernel
// build runs the same checks through device_backend.cpp.
#include "kmod/e2e/backend.h"

#include "kmod/e2e/user_backend.h"
#include "kmod/live_module.h"

namespace kmod_live {
namespace {

using EndToEnd = LiveModule;

TEST_F(EndToEnd, TunnelChecksPassOnTheUserSpaceBuild) {
  kmod_e2e::UserBackend backend;
  EXPECT_EQ(kmod_e2e::run_tunnel_checks(backend), 0);
  // The tampered datagram among them is logged once.
  EXPECT_EQ(log_count("frame dropped "), 1u);
}

}  // namespace
}  // namespace kmod_live
