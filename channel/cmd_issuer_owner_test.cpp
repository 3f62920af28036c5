// The issuer with a command layer as its owner. Building a UI prepares the
// calling user's ".yrk" tree, so these run only inside tests/sandbox.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <semaphore.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "channel/channel_test_util.h"
#include "channel/cmd_issuer.h"
#include "ui/ui.h"

namespace channel_test {
namespace {

using UserInterface::CmdIssuer;

class Owner : public UserInterface::UI {
 public:
  explicit Owner(const std::string &semaphore) : UI(Sockets(semaphore)) {}

  void CallbackNotify(Message &msg) override {
    kinds.push_back(msg.Kind());
    if (msg.Kind() == 6 && cancel_on_text) Cancel();
    UI::CallbackNotify(msg);
  }
  size_t StateCount() { return States().size(); }

  std::vector<int> kinds;  // written on the reader thread, read after Put
  bool cancel_on_text = false;

 private:
  static Files Sockets(const std::string &semaphore) {
    Files files;
    files.semaphore = semaphore;
    return files;
  }
};

class CmdIssuerOwner : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("YRK_SANDBOX")) GTEST_SKIP() << "needs tests/sandbox";
    sem_t *sem = sem_open(semaphore.c_str(), O_CREAT, 0600, 1);
    ASSERT_NE(sem, SEM_FAILED);
    sem_close(sem);
    owner = std::make_unique<Owner>(semaphore);
  }
  void TearDown() override { sem_unlink(semaphore.c_str()); }

  // Runs the daemon's side on its own thread while the owner's issuer waits.
  template <typename Side>
  int Exchange(Message &request, Side side) {
    UnixSocket peer(daemon, client);
    int result;
    {
      CmdIssuer issuer(owner.get(), client, daemon);
      std::thread daemon_side([&] { side(peer); });
      result = issuer.Put(request);
      daemon_side.join();
    }
    // Whatever the issuer sent after the exchange would come before this.
    UnixSocket marker(client, daemon);
    Container end;
    end.Init("-marker-", 8);
    marker.Send(end);
    Container next;
    next.Init(8);
    peer.Recv(next);
    EXPECT_TRUE(next == end) << "the issuer sent more than expected";
    return result;
  }

  static Message Connect() {
    Message msg(1);
    unsigned char payload[44 + 134];
    for (size_t i = 0; i < sizeof payload; ++i) payload[i] = static_cast<unsigned char>(i);
    msg.Add(payload, sizeof payload);
    return msg;
  }

  ScratchDir dir;
  std::string client = dir / "client.soc";
  std::string daemon = dir / "daemon.soc";
  std::string semaphore = "/yrk-owner-test-" + std::to_string(getpid());
  std::unique_ptr<Owner> owner;
};

TEST_F(CmdIssuerOwner, EveryMessageReachesTheOwnerInOrder) {
  Message request(3);
  request.Add(std::vector<unsigned char>(44).data(), 44);
  const int result = Exchange(request, [](UnixSocket &peer) {
    ReceiveMessage(peer);
    SendText(peer, 6, "session list");
    Message state(8);
    state.Add(std::vector<unsigned char>(180, 7).data(), 180);
    SendMessage(peer, state);
    SendMessage(peer, state);
    SendValue(peer, 7, -1019);
  });
  EXPECT_EQ(result, -1019);
  EXPECT_EQ(owner->kinds, (std::vector<int>{6, 8, 8, 7}));
  EXPECT_EQ(owner->StateCount(), 2u);
}

TEST_F(CmdIssuerOwner, CancelTurnsAPendingConnectIntoOneDisconnect) {
  owner->cancel_on_text = true;
  Message request = Connect();
  const Message sent = request;
  Message resent(-1);
  const int result = Exchange(request, [&](UnixSocket &peer) {
    EXPECT_EQ(ReceiveMessage(peer).Kind(), 1);
    SendText(peer, 6, "connecting");
    resent = ReceiveMessage(peer);
    // Give the poller a few more rounds with the flag still set.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    SendValue(peer, 7, 0);
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(resent.Kind(), 2);
  ASSERT_EQ(resent.Length(), sent.Length());
  EXPECT_EQ(std::memcmp(resent.Payload(), sent.Payload(), sent.Length()), 0);
}

TEST_F(CmdIssuerOwner, CancelOnlyTouchesConnectRequests) {
  owner->cancel_on_text = true;
  Message request = Connect();
  request.SetKind(3);
  EXPECT_EQ(Exchange(request,
                     [](UnixSocket &peer) {
                       ReceiveMessage(peer);
                       SendText(peer, 6, "not a connect");
                       std::this_thread::sleep_for(std::chrono::milliseconds(300));
                       SendValue(peer, 7, 4);
                     }),
            4);
  EXPECT_EQ(request.Kind(), 3);
}

TEST_F(CmdIssuerOwner, AnEarlierCancelIsCleared) {
  owner->Cancel();
  Message request = Connect();
  EXPECT_EQ(Exchange(request,
                     [](UnixSocket &peer) {
                       ReceiveMessage(peer);
                       std::this_thread::sleep_for(std::chrono::milliseconds(300));
                       SendValue(peer, 7, 0);
                     }),
            0);
  EXPECT_EQ(request.Kind(), 1);
  EXPECT_FALSE(owner->CancelRequested());
}

}  // namespace
}  // namespace channel_test
