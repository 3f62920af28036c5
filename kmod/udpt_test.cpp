// The UDP transport's failures: socket creation, binding, sending.
#include "kmod/udpt.h"

#include "kmod/live_module.h"

namespace kmod_live {
namespace {

using Transport = LiveModule;

TEST_F(Transport, SocketCreationFails) {
  Line line(0);
  user_fail_socket_create();
  EXPECT_EQ(line.create(1, 5000, free_port()), -14);
  EXPECT_EQ(log_count("sock_create failed"), 1u);
  EXPECT_EQ(log_count("error while creating session - udp transporter initialization failed"), 1u);
  // The session stays, without a socket: its frames are lost with a log line.
  ASSERT_EQ(line.write(ipv4_frame(40)), 40);
  EXPECT_TRUE(eventually([] { return log_count("error while sending packet - no socket exists") == 1; }));
}

// A port held by a socket without address reuse cannot be bound: the session
// then sends from a port the system picks, and still works.
TEST_F(Transport, BindFailureLeavesTheSocketUnbound) {
  UdpPeer server, holder;
  Line line(0);
  ASSERT_EQ(line.create(1, server.port(), holder.port()), 0);
  EXPECT_EQ(log_count("sock bind failed"), 1u);
  ASSERT_EQ(line.write(ipv4_frame(40)), 40);
  Bytes d;
  uint16_t from = 0;
  ASSERT_TRUE(server.receive(d, 2000, nullptr, &from));
  EXPECT_NE(from, holder.port());
  server.send(d, from);
  EXPECT_EQ(line.read(), ipv4_frame(40));
}

TEST_F(Transport, SendFailureIsLogged) {
  Line line(0);
  ASSERT_EQ(line.create(1, 0, free_port()), 0);  // port 0 cannot be sent to
  ASSERT_EQ(line.write(ipv4_frame(40)), 40);
  EXPECT_TRUE(eventually([] { return log_count("send packet error 22 ") == 1; }));
}

TEST_F(Transport, SessionsOnDifferentPortsHaveTheirOwnSockets) {
  uint16_t pa, pb;
  {
    UdpPeer first, second;  // held together, so the two ports differ
    pa = first.port(), pb = second.port();
  }
  Line a(0), b(1);
  ASSERT_EQ(a.create(1, 5000, pa), 0);
  ASSERT_EQ(b.create(2, 5000, pb), 0);
  ASSERT_NE(udpt_find_sock(kLoopback, pa), nullptr);
  ASSERT_NE(udpt_find_sock(kLoopback, pb), nullptr);
  EXPECT_NE(udpt_find_sock(kLoopback, pa)->sock, udpt_find_sock(kLoopback, pb)->sock);
  EXPECT_EQ(udpt_find_sock(kLoopback + 1, pa), nullptr);
}

}  // namespace
}  // namespace kmod_live
