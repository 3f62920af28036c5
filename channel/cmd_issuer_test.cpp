#include "channel/cmd_issuer.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "channel/channel_test_util.h"

namespace channel_test {
namespace {

using Clock = std::chrono::steady_clock;
using UserInterface::CmdIssuer;

class CmdIssuerTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string client = dir / "client.soc";
  std::string daemon = dir / "daemon.soc";

  // The daemon's side: answers the request with `answer` on its own thread.
  template <typename Answer>
  int Exchange(Message &request, Answer answer, int idle_timeout = CmdIssuer::kIdleTimeout) {
    UnixSocket peer(daemon, client);
    CmdIssuer issuer(nullptr, client, daemon, idle_timeout);
    std::thread side([&] {
      received = ReceiveMessage(peer);
      answer(peer);
    });
    const int result = issuer.Put(request);
    side.join();
    return result;
  }

  static Message Request(int kind) {
    Message msg(kind);
    unsigned char record[44] = {1, 2, 3};
    msg.Add(record, sizeof record);
    return msg;
  }

  Message received{-99};
};

TEST_F(CmdIssuerTest, KindSevenValueEndsTheExchange) {
  Message request = Request(6);
  const int result = Exchange(request, [](UnixSocket &peer) {
    SendText(peer, 6, "text before the result");
    SendValue(peer, 7, -1034);
  });
  EXPECT_EQ(result, -1034);
  EXPECT_EQ(received.Kind(), 6);
  ASSERT_EQ(received.Length(), 44);
  EXPECT_EQ(std::memcmp(received.Payload(), request.Payload(), 44), 0);
}

TEST_F(CmdIssuerTest, KindZeroEndsWithZero) {
  Message request = Request(3);
  EXPECT_EQ(Exchange(request,
                     [](UnixSocket &peer) {
                       unsigned char state[180] = {};
                       for (int i = 0; i < 3; ++i) {
                         Message msg(8);
                         msg.Add(state, sizeof state);
                         SendMessage(peer, msg);
                       }
                       SendText(peer, 0, "done");
                     }),
            0);
}

TEST_F(CmdIssuerTest, EmptyPayloadsKeepTheFraming) {
  Message request(2);  // a request without payload goes out as an empty datagram
  EXPECT_EQ(Exchange(request,
                     [](UnixSocket &peer) {
                       SendMessage(peer, Message(6));
                       SendValue(peer, 7, 3);
                     }),
            3);
  EXPECT_EQ(received.Kind(), 2);
  EXPECT_EQ(received.Length(), 0);
}

TEST_F(CmdIssuerTest, NoDaemonFailsAtOnce) {
  CmdIssuer issuer(nullptr, client, daemon);
  Message request = Request(6);
  const auto start = Clock::now();
  EXPECT_EQ(issuer.Put(request), -1035);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
}

TEST_F(CmdIssuerTest, SilenceTimesOut) {
  Message request = Request(1);
  const auto start = Clock::now();
  EXPECT_EQ(Exchange(request, [](UnixSocket &) {}, 1), -1022);
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::seconds(1));
  EXPECT_LT(waited, std::chrono::seconds(4));
}

TEST_F(CmdIssuerTest, EachMessageRestartsTheTimeOut) {
  Message request = Request(1);
  const auto start = Clock::now();
  const int result = Exchange(
      request,
      [](UnixSocket &peer) {
        for (int i = 0; i < 6; ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(500));
          SendText(peer, 6, "still working");
        }
        SendValue(peer, 7, 42);
      },
      1);
  EXPECT_EQ(result, 42);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(3000));
}

TEST_F(CmdIssuerTest, AnswersFromOtherAddressesAreDropped) {
  Message request = Request(6);
  const std::string intruder = dir / "intruder.soc";
  const int result = Exchange(request, [&](UnixSocket &peer) {
    UnixSocket forger(intruder, client);
    SendValue(forger, 7, -1019);
    SendText(forger, 0, "forged end");
    SendValue(peer, 7, 5);
  });
  EXPECT_EQ(result, 5);
}

// An unbound socket's datagram arrives without a sender address, which is
// also how a stopped receiving side looks; neither may end the exchange.
TEST_F(CmdIssuerTest, DatagramsFromUnnamedSendersAreDropped) {
  Message request = Request(6);
  const int result = Exchange(request, [&](UnixSocket &peer) {
    const int unnamed = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(unnamed, 0);
    sockaddr_un to{};
    to.sun_family = AF_UNIX;
    std::strncpy(to.sun_path, client.c_str(), sizeof to.sun_path - 1);
    const int32_t forged[2] = {7, 4};
    for (size_t len : {size_t{0}, sizeof forged})
      ASSERT_EQ(sendto(unnamed, forged, len, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to),
                static_cast<ssize_t>(len));
    close(unnamed);
    SendValue(peer, 7, 5);
  });
  EXPECT_EQ(result, 5);
}

TEST_F(CmdIssuerTest, MalformedAnswersAreChannelFailures) {
  Message request = Request(6);
  EXPECT_EQ(Exchange(request,
                     [](UnixSocket &peer) {
                       Container header;
                       const int32_t fields[2] = {7, 1 << 24};  // absurd length
                       header.Init(fields, sizeof fields);
                       peer.Send(header);
                     }),
            -1035);
  Message again = Request(6);
  EXPECT_EQ(Exchange(again,
                     [](UnixSocket &peer) {
                       Message value(7);
                       value.Add("\x01\x02", 2);  // too short for its value
                       SendMessage(peer, value);
                     }),
            -1035);
}

TEST_F(CmdIssuerTest, StaleSocketFileIsReplacedAndRemovedAfterUse) {
  std::ofstream(client) << "left by an earlier run";
  {
    CmdIssuer issuer(nullptr, client, daemon);
    struct stat st;
    ASSERT_EQ(stat(client.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
  }
  struct stat st;
  EXPECT_NE(stat(client.c_str(), &st), 0);
}

TEST(UnixSocket, BindFailuresThrow) {
  try {
    UnixSocket socket("/nonexistent-dir/client.soc", "/nonexistent-dir/daemon.soc");
    FAIL() << "bound in a missing directory";
  } catch (const std::runtime_error &e) {
    EXPECT_STREQ(e.what(), "socket bind failed");
  }
  EXPECT_THROW(UnixSocket(std::string(200, 'a'), "/tmp/x"), std::runtime_error);
}

TEST(UnixSocket, RecvFillsFromSuccessiveDatagrams) {
  ScratchDir dir;
  UnixSocket a(dir / "a", dir / "b");
  UnixSocket b(dir / "b", dir / "a");
  Container part;
  part.Init("abc", 3);
  ASSERT_EQ(b.Send(part), 3);
  part.Init("defgh", 5);
  ASSERT_EQ(b.Send(part), 5);
  Container whole;
  whole.Init(8);
  ASSERT_EQ(a.Recv(whole), 8);
  EXPECT_EQ(std::memcmp(static_cast<unsigned char *>(whole), "abcdefgh", 8), 0);
}

}  // namespace
}  // namespace channel_test
