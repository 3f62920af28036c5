#include "channel/cmd_issuer.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "channel/channel_test_util.h"

namespace channel_test {
namespace {

using Clock = std::chrono::steady_clock;
using UserInterface::CmdIssuer;

constexpr uid_t kNobody = 65534;

// Seconds that pass 40 times as fast as real ones: the minute of silence
// that ends an exchange takes 1.5 s.
constexpr int kSpeedUp = 40;
long FastClock() {
  static const auto origin = Clock::now();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - origin);
  return static_cast<long>(elapsed.count() * kSpeedUp / 1000);
}

Message ValueMessage(int kind, int32_t value) {
  Message msg(kind);
  msg.Add(&value, sizeof value);
  return msg;
}

// The header and payload datagrams of the message.
std::vector<std::string> Datagrams(const Message &msg) {
  const auto *bytes = reinterpret_cast<const char *>(msg.Header());
  return {std::string(bytes, Message::kHeaderSize),
          std::string(bytes + Message::kHeaderSize, static_cast<size_t>(msg.Length()))};
}

// Sends the datagrams to path from an unbound socket of a child process
// running as uid; true when the child sent every one whole.
bool SendAs(uid_t uid, const std::string &path, const std::vector<std::string> &datagrams) {
  sockaddr_un to{};
  to.sun_family = AF_UNIX;
  std::strncpy(to.sun_path, path.c_str(), sizeof to.sun_path - 1);
  const pid_t child = fork();
  if (child == 0) {  // only system calls here: the parent may have other threads
    const int fd = setresuid(uid, uid, uid) == 0 ? socket(AF_UNIX, SOCK_DGRAM, 0) : -1;
    if (fd < 0) _exit(1);
    for (const std::string &datagram : datagrams)
      if (sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                 sizeof to) != static_cast<ssize_t>(datagram.size()))
        _exit(1);
    _exit(0);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

class CmdIssuerTest : public ::testing::Test {
 protected:
  TestDir dir;
  std::string client = dir / "client.soc";
  std::string daemon = dir / "daemon.soc";

  // The daemon's side: answers the request with `answer` on its own thread.
  template <typename Answer>
  int Exchange(Message &request, Answer answer) {
    UnixSocket peer(daemon, client);
    CmdIssuer issuer(nullptr, client, daemon, FastClock);
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

  // Lets other users reach and write the issuer's socket, whatever the umask.
  void OpenToOtherUsers() {
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(client.c_str(), 0666), 0);
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
  EXPECT_EQ(Exchange(request, [](UnixSocket &) {}), -1022);
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::seconds(CmdIssuer::kIdleTimeout) / kSpeedUp);
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
      });
  EXPECT_EQ(result, 42);
  // Twice the idle time-out in all, a third of it between two messages.
  EXPECT_GE(Clock::now() - start, 2 * std::chrono::seconds(CmdIssuer::kIdleTimeout) / kSpeedUp);
}

TEST_F(CmdIssuerTest, AnswersFromAnotherSocketOfTheDaemonsOwnerCount) {
  Message request = Request(6);
  const int result = Exchange(
      request,
      [&](UnixSocket &) {
        UnixSocket second(dir / "second.soc", client);
        SendText(second, 6, "from a second socket");
        SendValue(second, 7, 5);
      });
  EXPECT_EQ(result, 5);
}

TEST_F(CmdIssuerTest, AnswersFromAnUnboundSocketOfTheDaemonsOwnerCount) {
  Message request = Request(6);
  const int result = Exchange(
      request,
      [&](UnixSocket &) {
        // The second message's empty payload datagram is part of the answer.
        std::vector<std::string> answer = Datagrams(Message(6));
        for (std::string &datagram : Datagrams(ValueMessage(7, 4))) answer.push_back(datagram);
        EXPECT_TRUE(SendAs(getuid(), client, answer));
      });
  EXPECT_EQ(result, 4);
}

TEST_F(CmdIssuerTest, OtherUsersAnswersAreDropped) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to send as another user";
  Message request = Request(6);
  const int result = Exchange(
      request,
      [&](UnixSocket &peer) {
        OpenToOtherUsers();
        // Taken as the header, the empty datagram would end the exchange.
        std::vector<std::string> forged{""};
        for (std::string &datagram : Datagrams(ValueMessage(7, -1019))) forged.push_back(datagram);
        for (std::string &datagram : Datagrams(Message(0))) forged.push_back(datagram);
        EXPECT_TRUE(SendAs(kNobody, client, forged));
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
  TestDir dir;
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

// Root counts anyway, so the owner rule shows only with another user as the
// owner of the peer's socket file.
TEST(UnixSocket, ThePeerFilesOwnerIsLookedUpForEachDatagram) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to send as another user";
  TestDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  UnixSocket a(dir / "a", dir / "b");
  UnixSocket b(dir / "b", dir / "a");
  ASSERT_EQ(chmod((dir / "a").c_str(), 0666), 0);
  auto next = [&a] {
    Container got;
    got.Init(4);
    EXPECT_EQ(a.Recv(got), 4);
    return std::string(reinterpret_cast<const char *>(static_cast<unsigned char *>(got)), 4);
  };
  Container part;
  part.Init("root", 4);

  ASSERT_TRUE(SendAs(kNobody, dir / "a", {"nobo"}));
  ASSERT_EQ(b.Send(part), 4);
  EXPECT_EQ(next(), "root");

  // The peer's socket now belongs to the sender, as after a restart as nobody.
  ASSERT_EQ(chown((dir / "b").c_str(), kNobody, kNobody), 0);
  ASSERT_TRUE(SendAs(kNobody, dir / "a", {"nobo"}));
  ASSERT_EQ(b.Send(part), 4);
  EXPECT_EQ(next(), "nobo");
}

// Anyone may attach descriptors; the receiver must not keep them open.
TEST(UnixSocket, DescriptorsSentAlongAreClosed) {
  TestDir dir;
  UnixSocket a(dir / "a", dir / "b");
  UnixSocket b(dir / "b", dir / "a");  // makes the sender's uid the peer's owner
  const int sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(sender, 0);
  sockaddr_un to{};
  to.sun_family = AF_UNIX;
  std::strncpy(to.sun_path, (dir / "a").c_str(), sizeof to.sun_path - 1);
  char byte = 'x';
  iovec data{&byte, 1};
  alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr msg{};
  msg.msg_name = &to;
  msg.msg_namelen = sizeof to;
  msg.msg_iov = &data;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  cmsghdr *rights = CMSG_FIRSTHDR(&msg);
  rights->cmsg_level = SOL_SOCKET;
  rights->cmsg_type = SCM_RIGHTS;
  rights->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(rights), &sender, sizeof sender);
  ASSERT_EQ(sendmsg(sender, &msg, 0), 1);
  close(sender);

  auto open_descriptors = [] {
    const std::filesystem::directory_iterator entries("/proc/self/fd");
    return std::distance(begin(entries), end(entries));
  };
  const auto before = open_descriptors();
  Container got;
  got.Init(1);
  ASSERT_EQ(a.Recv(got), 1);
  EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
}  // namespace channel_test
