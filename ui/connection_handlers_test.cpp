// Connect, disconnect, statistics and events against a daemon that answers
// as each test says.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "channel/message_kinds.h"
#include "channel/request_block.h"
#include "config/event_log.h"
#include "impex/result_codes.h"
#include "ui/cert_processor.h"
#include "ui/commands.h"
#include "ui/ui_testing.h"

using namespace UserInterface;
using namespace ui_testing;

namespace {

constexpr uint32_t kServer = 0x0A000001;  // 10.0.0.1

Message StateMessage(uint8_t fill) {
  Message msg(AnswerKind::kState);
  const std::vector<uint8_t> state(sizeof(_session_state), fill);
  msg.Add(state.data(), static_cast<unsigned>(state.size()));
  return msg;
}

// What a connect or disconnect request carries.
struct ConnectionPayload {
  session_params record;
  _request_block block;
};

ConnectionPayload Decode(const std::vector<uint8_t> &payload) {
  ConnectionPayload decoded;
  EXPECT_EQ(payload.size(), sizeof decoded.record + sizeof decoded.block);
  std::memcpy(&decoded.record, payload.data(), sizeof decoded.record);
  std::memcpy(&decoded.block, payload.data() + sizeof decoded.record, sizeof decoded.block);
  return decoded;
}

bool AllZero(const void *bytes, size_t len) {
  const auto *p = static_cast<const uint8_t *>(bytes);
  for (size_t i = 0; i < len; ++i)
    if (p[i] != 0) return false;
  return true;
}

class Connection : public CommandLayer {
 protected:
  // An account of the name, its certificate entry and server given.
  void StoreAccount(const std::string &name, const std::string &cert, const std::string &server) {
    _Account account;
    account.name = name;
    account.user = "tester";
    account.cert = cert;
    account.conn.server_address = server;
    account.conn.mtu = 1300;
    account.conn.server_port = 4500;
    account.mask = Config::MASK_USER | Config::MASK_CERT | Config::MASK_MTU | Config::MASK_SERVER_PORT;
    if (!server.empty()) account.mask |= Config::MASK_SERVER_ADDRESS;
    ASSERT_EQ(UserConfig().AddAccount(account), 0);
  }

  // A user certificate that verifies, as entry 0, and one that has expired,
  // as entry 1, with the CAs and revocation lists they need.
  void TrustUserCertificates() {
    const CryptoTesting::TestPki &pki = CryptoTesting::TestPki::get();
    const CertStores stores = StoresIn(files.cert_stores);
    CertProcessor users(stores, CertStorage::CERT_USER);
    ASSERT_EQ(users.Add(pki.issue_full_usage("connect_good", "3001", "20200101000000Z", "20491231235959Z")), 0);
    ASSERT_EQ(users.Add(pki.issue_full_usage("connect_expired", "3002", "20010101000000Z", "20020101000000Z")), 1);
    ASSERT_EQ(CertProcessor(stores, CertStorage::CERT_CA).Add(Pki("chain.p7b")), 2);
    CertProcessor crls(stores, CertStorage::CERT_CRL);
    ASSERT_GE(crls.Add(Pki("inter.crl.der")), 0);
    ASSERT_GE(crls.Add(Pki("root.crl.der")), 0);
  }
};

TEST_F(Connection, ConnectSendsTheRecordAndBlockAndPrintsTheDaemonsTexts) {
  REQUIRE_TEST_PKI();
  TrustUserCertificates();
  StoreAccount("work", "0000", "10.0.0.1");
  FakeDaemon daemon(files.daemon_socket, files.client_socket, [](int) {
    return std::vector<Message>{TextMessage(6, "connecting"), StateMessage(1), TextMessage(0, "connected")};
  });
  testing::internal::CaptureStdout();
  EXPECT_EQ(Send(Command::kConnect, {{PARAM_NAME, "work"}, {PARAM_PASSWORD, "secret"}}), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "connecting \nconnected \n");
  EXPECT_EQ(ui->ConnectedServer(), static_cast<int32_t>(kServer));

  const auto requests = daemon.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].first, RequestKind::kConnect);
  const ConnectionPayload sent = Decode(requests[0].second);
  EXPECT_EQ(sent.record.server_ip, kServer);
  EXPECT_EQ(sent.record.server_port, 4500);
  EXPECT_EQ(sent.record.mtu, 1300);
  EXPECT_EQ(sent.block.cert_number, 0);
  EXPECT_STREQ(sent.block.password, "secret");
  EXPECT_TRUE(AllZero(sent.block.password + 6, sizeof sent.block.password - 6));
  EXPECT_STREQ(sent.block.user, "tester");
}

TEST_F(Connection, ConnectResultIsTheDaemonsValue) {
  REQUIRE_TEST_PKI();
  TrustUserCertificates();
  StoreAccount("work", "0000", "10.0.0.1");
  FakeDaemon daemon(files.daemon_socket, files.client_socket, [](int) {
    return std::vector<Message>{TextMessage(6, "no answer from the server"), ValueMessage(ResultCode::kConnectionFailed)};
  });
  testing::internal::CaptureStdout();
  EXPECT_EQ(Send(Command::kConnect, {{PARAM_NAME, "work"}}), ResultCode::kConnectionFailed);
  testing::internal::GetCapturedStdout();
}

TEST_F(Connection, ConnectRefusesBeforeSendingAnything) {
  REQUIRE_TEST_PKI();
  TrustUserCertificates();
  StoreAccount("old", "0001", "10.0.0.1");
  StoreAccount("broken", "zz", "10.0.0.1");
  FakeDaemon daemon(files.daemon_socket, files.client_socket);
  EXPECT_EQ(Send(Command::kConnect, {{PARAM_NAME, "old"}}), ResultCode::kUserCertPeriodInvalid);
  EXPECT_EQ(Send(Command::kConnect, {{PARAM_NAME, "broken"}}), ResultCode::kCertStoreFailed);
  EXPECT_EQ(Send(Command::kConnect, {{PARAM_NAME, "none"}}), ResultCode::kNoAccountToConnect);
  EXPECT_EQ(Send(Command::kConnect, {}), ResultCode::kNoAccountToConnect)
      << "two accounts and no default name neither";
  EXPECT_EQ(Send(Command::kConnect, {{PARAM_NAME, "old"}, {PARAM_PASSWORD, std::string(65, 'p')}}),
            ResultCode::kPasswordTooLong);
  EXPECT_TRUE(daemon.Requests().empty());
  EXPECT_EQ(ui->ConnectedServer(), -1);
}

TEST_F(Connection, ConnectWithoutNameTakesTheDefaultOrTheOnlyAccount) {
  REQUIRE_TEST_PKI();
  TrustUserCertificates();
  StoreAccount("only", "0000", "10.0.0.1");
  FakeDaemon daemon(files.daemon_socket, files.client_socket);
  EXPECT_EQ(Send(Command::kConnect, {}), 0) << "the only account";
  StoreAccount("second", "0000", "10.0.0.2");
  EXPECT_EQ(Send(Command::kConnect, {}), ResultCode::kNoAccountToConnect);
  EXPECT_EQ(Send(Command::kSetParams, {{PARAM_NAME, "second"}}), 0);
  EXPECT_EQ(Send(Command::kConnect, {}), 0) << "the default account";
  const auto requests = daemon.Requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(Decode(requests.back().second).record.server_ip, kServer + 1);
}

// A front end cancels from another thread; here the first text does it.
class CancellingUI : public TestUI {
 public:
  using TestUI::TestUI;
  void CallbackNotify(Message &msg) override {
    if (msg.Kind() == AnswerKind::kText) Cancel();
    TestUI::CallbackNotify(msg);
  }
};

TEST_F(Connection, CancelTurnsTheConnectIntoADisconnect) {
  REQUIRE_TEST_PKI();
  TrustUserCertificates();
  StoreAccount("work", "0000", "10.0.0.1");
  ui = std::make_unique<CancellingUI>(files);
  FakeDaemon daemon(files.daemon_socket, files.client_socket, [](int kind) {
    if (kind == RequestKind::kConnect) return std::vector<Message>{TextMessage(6, "connecting")};
    return std::vector<Message>{TextMessage(0, "disconnected")};
  });
  testing::internal::CaptureStdout();
  EXPECT_EQ(Send(Command::kConnect, {{PARAM_NAME, "work"}, {PARAM_PASSWORD, "secret"}}), 0);
  testing::internal::GetCapturedStdout();
  const auto requests = daemon.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].first, RequestKind::kConnect);
  EXPECT_EQ(requests[1].first, RequestKind::kDisconnect);
  EXPECT_EQ(requests[1].second, requests[0].second);
}

TEST_F(Connection, AMinuteOfSilenceTimesOut) {
  REQUIRE_TEST_PKI();
  TrustUserCertificates();
  StoreAccount("work", "0000", "10.0.0.1");
  // Ten seconds pass at each look at the clock.
  files.clock = [seconds = 0L]() mutable { return seconds += 10; };
  ui = std::make_unique<TestUI>(files);
  FakeDaemon daemon(files.daemon_socket, files.client_socket, [](int) { return std::vector<Message>{}; });
  EXPECT_EQ(Send(Command::kConnect, {{PARAM_NAME, "work"}}), ResultCode::kTimedOut);
}

TEST_F(Connection, DisconnectSelectsTheServerByWhicheverComesFirst) {
  StoreAccount("work", "0000", "10.0.0.1");
  StoreAccount("nowhere", "0000", "");
  FakeDaemon daemon(files.daemon_socket, files.client_socket);
  EXPECT_EQ(Send(Command::kDisconnect, {{PARAM_SERVER, "10.0.0.9"}, {PARAM_NAME, "work"}}), 0);
  EXPECT_EQ(Send(Command::kDisconnect, {{PARAM_NAME, "work"}, {PARAM_SERVER, "10.0.0.9"}}), 0);
  EXPECT_EQ(Send(Command::kDisconnect, {}), 0);
  EXPECT_EQ(Send(Command::kDisconnect, {{PARAM_SERVER, "10.0.x.1"}}), ResultCode::kInvalidParameters);
  EXPECT_EQ(Send(Command::kDisconnect, {{PARAM_NAME, "none"}}), ResultCode::kNoAccountToConnect);
  EXPECT_EQ(Send(Command::kDisconnect, {{PARAM_NAME, "nowhere"}}), ResultCode::kNoServerAddress);

  const auto requests = daemon.Requests();
  ASSERT_EQ(requests.size(), 3u);
  const uint32_t expected[] = {kServer + 8, kServer, 0};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(requests[i].first, RequestKind::kDisconnect);
    const ConnectionPayload sent = Decode(requests[i].second);
    EXPECT_EQ(sent.record.server_ip, expected[i]);
    session_params rest = sent.record;
    rest.server_ip = 0;
    EXPECT_TRUE(AllZero(&rest, sizeof rest)) << "only the address is set";
    EXPECT_EQ(sent.block.cert_number, 0);
    EXPECT_TRUE(AllZero(sent.block.password, sizeof sent.block.password));
    EXPECT_STREQ(sent.block.user, "tester");
  }
}

TEST_F(Connection, StatisticsCollectStatesInOrderAndTheFinalValue) {
  FakeDaemon daemon(files.daemon_socket, files.client_socket, [](int) {
    return std::vector<Message>{StateMessage(1), StateMessage(2), StateMessage(3), ValueMessage(0)};
  });
  UI::ParameterBag bag;
  bag.strings = {{PARAM_SERVER, "10.0.0.1"}};
  EXPECT_EQ(ui->SendCommand(Command::kStats, bag), 0);
  ASSERT_EQ(bag.states.size(), 3u);
  uint8_t fill = 1;
  for (const _session_state &state : bag.states) EXPECT_EQ(state.reserved[50], fill++);
  ASSERT_EQ(bag.digitals.size(), 1u);
  EXPECT_EQ(bag.digitals.front().type, PARAM_RESULT);
  EXPECT_EQ(bag.digitals.front().value, 0);

  const auto requests = daemon.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].first, RequestKind::kStatistics);
  ASSERT_EQ(requests[0].second.size(), sizeof(session_params));
  session_params record;
  std::memcpy(&record, requests[0].second.data(), sizeof record);
  EXPECT_EQ(record.server_ip, kServer);
}

TEST_F(Connection, StatisticsCarryTheDaemonsFailureInTheBag) {
  FakeDaemon daemon(files.daemon_socket, files.client_socket,
                    [](int) { return std::vector<Message>{ValueMessage(ResultCode::kEapExchangeFailed)}; });
  UI::ParameterBag bag;
  EXPECT_EQ(ui->SendCommand(Command::kStats, bag), 0);
  ASSERT_EQ(bag.digitals.size(), 1u);
  EXPECT_EQ(bag.digitals.front().value, ResultCode::kEapExchangeFailed);
  bag.strings = {{PARAM_SERVER, "not an address"}};
  EXPECT_EQ(ui->SendCommand(Command::kStats, bag), ResultCode::kInvalidParameters);
}

TEST_F(Connection, StatisticsWithoutDaemonAreAChannelFailure) {
  UI::ParameterBag bag;
  EXPECT_EQ(ui->SendCommand(Command::kStats, bag), ResultCode::kSystemError);
  EXPECT_TRUE(bag.digitals.empty());
}

TEST_F(Connection, EventsNeedTheProcesssLog) {
  ASSERT_EQ(gEventLog, nullptr);
  EXPECT_EQ(Send(Command::kEvents, {}), ResultCode::kLogUnreadable);
  if (geteuid() != 0) GTEST_SKIP() << "naming another user's events needs root";

  const std::string path = dir / "events.log";
  EventLog writer(true, path);
  ASSERT_EQ(writer.Trigger(EventLog::INFO, kServer, "tester", "connected"), 0);
  ASSERT_EQ(writer.Trigger(EventLog::ERROR, 0, "other", "refused"), 0);
  EventLog reader(false, path);
  gEventLog = &reader;
  testing::internal::CaptureStdout();
  const int levels_bad = Send(Command::kEvents, {{PARAM_LOG_LEVEL, "none"}});
  const int listed = Send(Command::kEvents, {{PARAM_USER, "tester"}});
  const std::string printed = testing::internal::GetCapturedStdout();
  gEventLog = nullptr;
  EXPECT_EQ(levels_bad, ResultCode::kInvalidParameters);
  EXPECT_EQ(listed, 0);
  EXPECT_NE(printed.find("connected"), std::string::npos);
  EXPECT_EQ(printed.find("refused"), std::string::npos);
}

}  // namespace
