// The issuer with a listener: what reaches it, and how a cancel acts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "channel/channel_test_util.h"
#include "channel/cmd_issuer.h"
#include "channel/issuer_listener.h"

namespace channel_test {
namespace {

using UserInterface::CmdIssuer;

class Listener : public UserInterface::IssuerListener {
 public:
  void CallbackNotify(Message &msg) override {
    kinds.push_back(msg.Kind());
    if (msg.Kind() == 6 && cancel_on_text) Cancel();
  }
  bool CancelRequested() const override { return cancel; }
  void ClearCancel() override { cancel = false; }
  void Cancel() { cancel = true; }

  std::vector<int> kinds;  // written on the reader thread, read after Put
  bool cancel_on_text = false;

 private:
  std::atomic<bool> cancel{false};
};

class CmdIssuerListener : public ::testing::Test {
 protected:
  // Runs the daemon's side on its own thread while the issuer waits.
  template <typename Side>
  int Exchange(Message &request, Side side) {
    UnixSocket peer(daemon, client);
    int result;
    {
      CmdIssuer issuer(&listener, client, daemon);
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

  TestDir dir;
  std::string client = dir / "client.soc";
  std::string daemon = dir / "daemon.soc";
  Listener listener;
};

TEST_F(CmdIssuerListener, EveryMessageReachesTheListenerInOrder) {
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
  EXPECT_EQ(listener.kinds, (std::vector<int>{6, 8, 8, 7}));
}

TEST_F(CmdIssuerListener, CancelTurnsAPendingConnectIntoOneDisconnect) {
  listener.cancel_on_text = true;
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

TEST_F(CmdIssuerListener, CancelOnlyTouchesConnectRequests) {
  listener.cancel_on_text = true;
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

TEST_F(CmdIssuerListener, AnEarlierCancelIsCleared) {
  listener.Cancel();
  Message request = Connect();
  EXPECT_EQ(Exchange(request,
                     [](UnixSocket &peer) {
                       ReceiveMessage(peer);
                       std::this_thread::sleep_for(std::chrono::milliseconds(300));
                       SendValue(peer, 7, 0);
                     }),
            0);
  EXPECT_EQ(request.Kind(), 1);
  EXPECT_FALSE(listener.CancelRequested());
}

}  // namespace
}  // namespace channel_test
