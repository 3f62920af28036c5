#include "ui/ui.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "channel/message.h"
#include "config/config.h"
#include "crypto/x509/test_pki.h"
#include "impex/result_codes.h"
#include "ui/commands.h"
#include "ui/ui_testing.h"

using namespace UserInterface;
using namespace ui_testing;
namespace fs = std::filesystem;

namespace {

Message Notification(int kind, const void *data, unsigned len) {
  Message msg(kind);
  msg.Add(data, len);
  return msg;
}

}  // namespace

// Front ends send these numbers as they are: a name must never move.
static_assert(Command::kConnect == 1 && Command::kDisconnect == 2 && Command::kStats == 4 &&
              Command::kEvents == 5 && Command::kAddAccount == 6 && Command::kDelAccount == 7 &&
              Command::kModifyAccount == 8 && Command::kAddCert == 9 && Command::kDelCert == 10 &&
              Command::kSetParams == 12 && Command::kResetParams == 13 &&
              Command::kAddServer == 15 && Command::kDelServer == 16);

TEST_F(CommandLayer, MissingSemaphoreThrows) {
  TestUI::Files other = files;
  other.semaphore = "/yrk_ui_test_missing";
  sem_unlink(other.semaphore.c_str());
  try {
    TestUI missing(other);
    FAIL() << "constructed without a semaphore";
  } catch (const std::runtime_error &e) {
    EXPECT_STREQ(e.what(), "sem_open");
  }
}

TEST_F(CommandLayer, NumbersWithoutHandlerGiveInvalidAndReleaseTheSemaphore) {
  for (int number : {-1, 0, 3, 11, 14, 17, 100}) {
    EXPECT_EQ(Send(number, {{PARAM_NAME, "x"}}), ResultCode::kInvalidParameters) << number;
    EXPECT_EQ(SemaphoreValue(), 1) << number;
  }
}

TEST_F(CommandLayer, BusySemaphoreGivesUpAfterTenAttempts) {
  ASSERT_EQ(sem_wait(sem), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Send(Command::kDelServer, {{PARAM_NAME, "gate"}}), ResultCode::kSemaphoreBusy);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(9500));
  EXPECT_EQ(SemaphoreValue(), 0) << "a command that never ran must not post";
  sem_post(sem);
}

TEST_F(CommandLayer, DestroyedWhileNotBusyLeavesTheCountAlone) {
  ui.reset();
  EXPECT_EQ(SemaphoreValue(), 1);
}

TEST_F(CommandLayer, HandlerExceptionBecomesMinusFour) {
  fs::remove(files.user_config);  // every load now throws "file not found"
  EXPECT_EQ(Send(Command::kDelAccount, {{PARAM_NAME, "work"}}), ResultCode::kHandlerFailed);
  EXPECT_EQ(Send(Command::kSetParams, {}), ResultCode::kHandlerFailed);
  EXPECT_EQ(SemaphoreValue(), 1);
}

TEST_F(CommandLayer, NotificationsPrintedOrCollected) {
  testing::internal::CaptureStdout();
  for (int kind : {-1, 0, 6}) {
    Message text = Notification(kind, "hello", 6);
    ui->CallbackNotify(text);
  }
  Message other = Notification(3, "quiet", 6);
  ui->CallbackNotify(other);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "hello \nhello \nhello \n");

  const int32_t value = -1034;
  Message result = Notification(7, &value, sizeof value);
  ui->CallbackNotify(result);
  ASSERT_EQ(ui->Values().size(), 1u);
  EXPECT_EQ(ui->Values().front().type, PARAM_RESULT);
  EXPECT_EQ(ui->Values().front().value, -1034);

  _session_state state;
  std::memset(&state, 0x5a, sizeof state);
  Message full = Notification(8, &state, sizeof state);
  Message short_state = Notification(8, &state, sizeof state - 1);
  ui->CallbackNotify(full);
  ui->CallbackNotify(short_state);
  ASSERT_EQ(ui->States().size(), 1u);
  EXPECT_EQ(std::memcmp(&ui->States().front(), &state, sizeof state), 0);

  // Every command starts with an empty value list; session states stay.
  Send(3, {});
  EXPECT_TRUE(ui->Values().empty());
  EXPECT_EQ(ui->States().size(), 1u);
}

TEST_F(CommandLayer, ServersAddedOnceDeletedWhenPresent) {
  EXPECT_EQ(Send(Command::kAddServer, {{PARAM_NAME, "gate"}}), ResultCode::kInvalidParameters);
  EXPECT_EQ(Send(Command::kAddServer, {{PARAM_NAME, "gate"}, {PARAM_SUBJECT_O, ""}}),
            ResultCode::kInvalidParameters);
  EXPECT_EQ(Send(Command::kAddServer, {{PARAM_SUBJECT_CN, "gate.example"}}),
            ResultCode::kInvalidParameters);
  EXPECT_EQ(Send(Command::kAddServer,
                 {{PARAM_NAME, "gate"}, {PARAM_CERT_PATH, "/ignored"}, {PARAM_SUBJECT_CN, "gate.example"}}),
            0);
  const std::string once = ReadFile(files.system_config);
  EXPECT_EQ(Send(Command::kAddServer, {{PARAM_NAME, "gate"}, {PARAM_SUBJECT_O, "Other"}}),
            ResultCode::kAlreadyExists);
  EXPECT_EQ(ReadFile(files.system_config), once);

  std::vector<DistinguishedName> servers;
  UserConfig().ListServers(servers);
  ASSERT_EQ(servers.size(), 1u);
  EXPECT_EQ(servers[0].NAME, "gate");
  EXPECT_EQ(servers[0].CN, "gate.example");

  EXPECT_EQ(Send(Command::kDelServer, {}), ResultCode::kInvalidParameters);
  EXPECT_EQ(Send(Command::kDelServer, {{PARAM_NAME, "absent"}}), ResultCode::kServerNotFound);
  EXPECT_EQ(Send(Command::kDelServer, {{PARAM_NAME, "other"}, {PARAM_NAME, "gate"}}), 0);
  servers.clear();
  UserConfig().ListServers(servers);
  EXPECT_TRUE(servers.empty());
}

TEST_F(CommandLayer, DeleteAccount) {
  AddAccount("work");
  EXPECT_EQ(Send(Command::kDelAccount, {}), ResultCode::kInvalidParameters);
  EXPECT_EQ(Send(Command::kDelAccount, {{PARAM_NAME, "home"}}), ResultCode::kAccountNotFound);
  EXPECT_EQ(Send(Command::kDelAccount, {{PARAM_NAME, "work"}}), 0);
  _Account gone;
  gone.name = "work";
  EXPECT_EQ(UserConfig().GetAccount(gone), ResultCode::kAccountNotFound);
}

TEST_F(CommandLayer, ModifyAccountKeepsWhatItDoesNotSet) {
  FakeDaemon daemon(files.daemon_socket, files.client_socket);
  AddAccount("work");
  EXPECT_EQ(Send(Command::kModifyAccount, {{PARAM_SERVER, "10.0.0.9"}}), ResultCode::kInvalidParameters);
  EXPECT_EQ(Send(Command::kModifyAccount, {{PARAM_NAME, "home"}}, {{PARAM_MTU, 1000}}),
            ResultCode::kAccountNotFound);
  EXPECT_EQ(Send(Command::kModifyAccount, {{PARAM_NAME, "work"}, {PARAM_LOCAL_ADDRESS, "10.0.0.300"}}),
            ResultCode::kInvalidParameters);
  EXPECT_EQ(Send(Command::kModifyAccount, {{PARAM_NAME, "work"}, {PARAM_LOCAL_ADDRESS, "192.168.0.2"}},
                 {{PARAM_MTU, 1000}, {PARAM_SERVER_PORT, 5000}, {PARAM_MTU, 1200}}),
            0);
  _Account stored;
  stored.name = "work";
  ASSERT_EQ(UserConfig().GetAccount(stored), 0);
  EXPECT_EQ(stored.conn.mtu, 1200);
  EXPECT_EQ(stored.conn.server_port, 5000);
  EXPECT_EQ(stored.conn.local_ip, 0xC0A80002u);
  EXPECT_EQ(stored.cert, "0001");
  EXPECT_EQ(stored.user, "alice") << "the stored user is kept, not the current one";
  EXPECT_EQ(stored.conn.server_address, "10.0.0.1");

  // The stored account's block went to the daemon (the unknown name sent nothing).
  const auto requests = daemon.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].first, 6);
  ASSERT_EQ(requests[0].second.size(), sizeof(session_params));
  EXPECT_EQ(std::memcmp(requests[0].second.data(), static_cast<session_params *>(&stored.conn),
                        sizeof(session_params)),
            0);
}

TEST_F(CommandLayer, ModifyWithMissingCertificateChangesNothing) {
  AddAccount("work");
  const std::string before = ReadFile(files.user_config);
  EXPECT_EQ(Send(Command::kModifyAccount, {{PARAM_NAME, "work"}, {PARAM_CERT_PATH, (dir / "none.pem").string()}},
                 {{PARAM_MTU, 1000}}),
            ResultCode::kCertNotStored);
  EXPECT_EQ(ReadFile(files.user_config), before);
}

TEST_F(CommandLayer, SetParamsFromBagOrDefaults) {
  FakeDaemon daemon(files.daemon_socket, files.client_socket);
  AddAccount("work");
  AddAccount("home");
  EXPECT_EQ(Send(Command::kSetParams, {{PARAM_NAME, "work"}, {PARAM_KEY, "/media/key"}},
                 {{PARAM_MTU, 1400}, {PARAM_LOG_TRAFFIC, 1}, {PARAM_LOCAL_PORT, 7000}}),
            0);
  YrkParamsStruct params;
  UserConfig().GetParams(params);
  EXPECT_EQ(params.def_account, "work");
  EXPECT_EQ(params.key, "/media/key");
  EXPECT_EQ(params.mtu, 1400);
  EXPECT_EQ(params.log_traffic, 1);
  EXPECT_EQ(params.local_port, 7000);
  EXPECT_EQ(params.server_port, 4433);

  // Global block first, then each account's, in list order.
  auto requests = daemon.Requests();
  ASSERT_EQ(requests.size(), 3u);
  session_params sent;
  std::memcpy(&sent, requests[0].second.data(), sizeof sent);
  EXPECT_EQ(sent.mtu, 1400);
  std::memcpy(&sent, requests[1].second.data(), sizeof sent);
  EXPECT_EQ(sent.mtu, 1300);
  EXPECT_EQ(sent.local_port, 7000) << "accounts inherit the new global parameters";

  EXPECT_EQ(Send(Command::kResetParams, {{PARAM_NAME, "home"}}, {{PARAM_MTU, 1000}}), 0);
  YrkParamsStruct reset;
  UserConfig().GetParams(reset);
  const YrkParamsStruct defaults;
  EXPECT_EQ(std::memcmp(static_cast<session_params *>(&reset), static_cast<const session_params *>(&defaults),
                        sizeof(session_params)),
            0);
  EXPECT_EQ(reset.def_account, "");
  EXPECT_EQ(reset.key, "RUTOKEN");
  EXPECT_EQ(daemon.Requests().size(), 6u);
}

TEST_F(CommandLayer, AppendLogPayload) {
  FakeDaemon daemon(files.daemon_socket, files.client_socket);
  ui->SetCurrentUser(std::string(70, 'u'));
  EXPECT_EQ(ui->AppendLog(1, "text"), 0);
  const auto requests = daemon.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].first, 7);
  const auto &payload = requests[0].second;
  ASSERT_EQ(payload.size(), 4u + 65u + 5u);
  EXPECT_EQ(payload[0], 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(payload.data() + 4)), std::string(64, 'u'));
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(payload.data() + 69)), "text");
}

TEST_F(CommandLayer, DaemonAbsentDoesNotChangeTheResult) {
  AddAccount("work");
  EXPECT_EQ(Send(Command::kModifyAccount, {{PARAM_NAME, "work"}}, {{PARAM_MTU, 1000}}), 0);
  EXPECT_EQ(Send(Command::kResetParams, {}), 0);
}

TEST_F(CommandLayer, UnusableClientSocketDoesNotTurnAStoredChangeIntoAFailure) {
  AddAccount("work");
  files.client_socket = dir / "no" / "such" / "client.soc";  // bind fails
  ui = std::make_unique<TestUI>(files);
  EXPECT_EQ(Send(Command::kModifyAccount, {{PARAM_NAME, "work"}}, {{PARAM_MTU, 1000}}), 0);
  _Account stored;
  stored.name = "work";
  ASSERT_EQ(UserConfig().GetAccount(stored), 0);
  EXPECT_EQ(stored.conn.mtu, 1000);
  EXPECT_EQ(Send(Command::kSetParams, {}, {{PARAM_MTU, 1400}}), 0);
}

TEST_F(CommandLayer, AddCertificateStoresByTypeWithoutDuplicates) {
  REQUIRE_TEST_PKI();
  EXPECT_EQ(Send(Command::kAddCert, {{PARAM_CERT_PATH, Pki("root.der")}}), 0) << "CA by default";
  EXPECT_EQ(Send(Command::kAddCert, {{PARAM_CERT_TYPE, "ca"}, {PARAM_CERT_PATH, Pki("root.pem")}}), 0);
  EXPECT_EQ(Send(Command::kAddCert, {{PARAM_CERT_TYPE, "user"}, {PARAM_CERT_PATH, Pki("user.pem")}}), 0);
  EXPECT_EQ(Send(Command::kAddCert, {{PARAM_CERT_TYPE, "crl"}, {PARAM_CERT_PATH, Pki("inter.crl.der")}}), 0);
  EXPECT_EQ(Send(Command::kAddCert, {{PARAM_CERT_TYPE, "crl"}, {PARAM_CERT_PATH, Pki("root.crl.pem")}}), 0);
  EXPECT_EQ(Entries("ca"), (std::vector<std::string>{"0000", "0001"})) << "a \"user\" certificate goes to the CAs";
  EXPECT_TRUE(Entries("user").empty());
  EXPECT_EQ(Entries("crl"), (std::vector<std::string>{"0000", "0001"}));
}

TEST_F(CommandLayer, AddCertificateRefusesBadInputBeforeStoring) {
  REQUIRE_TEST_PKI();
  EXPECT_EQ(Send(Command::kAddCert, {{PARAM_CERT_TYPE, "CA"}, {PARAM_CERT_PATH, Pki("root.der")}}),
            ResultCode::kInvalidParameters);
  EXPECT_EQ(Send(Command::kAddCert, {{PARAM_CERT_TYPE, "ca"}}), ResultCode::kInvalidParameters);
  for (const char *file : {"rsa.der", "rsa.pem", "rsa_chain.p7b", "inter.crl.der", "openssl.cnf", "missing"})
    EXPECT_EQ(Send(Command::kAddCert, {{PARAM_CERT_PATH, Pki(file)}}), ResultCode::kCertNotStored) << file;
  EXPECT_EQ(Send(Command::kAddCert, {{PARAM_CERT_TYPE, "crl"}, {PARAM_CERT_PATH, Pki("root.der")}}),
            ResultCode::kCertNotStored);
  EXPECT_EQ(Send(Command::kAddCert, {{PARAM_CERT_PATH, dir.string()}}), ResultCode::kCertNotStored);
  EXPECT_TRUE(Entries("ca").empty());
  EXPECT_TRUE(Entries("crl").empty());
}

TEST_F(CommandLayer, DeleteCertificatesNeedsTypeAndFilter) {
  REQUIRE_TEST_PKI();
  ASSERT_EQ(Send(Command::kAddCert, {{PARAM_CERT_PATH, Pki("root.der")}}), 0);
  EXPECT_EQ(Send(Command::kDelCert, {{PARAM_CERT_TYPE, "ca"}}), ResultCode::kInvalidParameters);
  EXPECT_EQ(Send(Command::kDelCert, {{PARAM_SUBJECT_CN, ".*"}}), ResultCode::kInvalidParameters);
  EXPECT_EQ(Send(Command::kDelCert, {{PARAM_CERT_TYPE, "Ca"}, {PARAM_SUBJECT_CN, ".*"}}),
            ResultCode::kInvalidParameters);
  EXPECT_EQ(Entries("ca").size(), 1u);
  EXPECT_EQ(Send(Command::kDelCert, {{PARAM_CERT_TYPE, "ca"}, {PARAM_SUBJECT_CN, "Test Root CA"}}), 0);
  EXPECT_TRUE(Entries("ca").empty());
}

TEST_F(CommandLayer, DeleteUserCertificatesFromTheUserStore) {
  REQUIRE_TEST_PKI();
  ASSERT_EQ(Send(Command::kModifyAccount, {{PARAM_NAME, "none"}, {PARAM_CERT_PATH, Pki("user.der")}}),
            ResultCode::kAccountNotFound);
  ASSERT_EQ(Entries("user").size(), 1u) << "a certificate stored before the failure stays";
  EXPECT_EQ(Send(Command::kDelCert, {{PARAM_CERT_TYPE, "user"}, {PARAM_ISSUER_CN, "Test Intermediate CA"}}), 0);
  EXPECT_TRUE(Entries("user").empty());
}

TEST_F(CommandLayer, AddAccountStoresItsCertificateOnce) {
  REQUIRE_TEST_PKI();
  EXPECT_EQ(Send(Command::kAddAccount, {{PARAM_NAME, "work"}, {PARAM_SERVER, "10.0.0.1"}}),
            ResultCode::kInvalidParameters) << "a certificate is required";
  EXPECT_EQ(Send(Command::kAddAccount,
                 {{PARAM_NAME, "work"}, {PARAM_SERVER, "10.0.x.1"}, {PARAM_CERT_PATH, Pki("chain.p7b")}}),
            ResultCode::kInvalidParameters);
  EXPECT_EQ(Send(Command::kAddAccount, {{PARAM_NAME, "work"},
                                        {PARAM_SERVER, "10.0.0.1"},
                                        {PARAM_LOCAL_ADDRESS, "10.0.0.300"},
                                        {PARAM_CERT_PATH, Pki("chain.p7b")}}),
            ResultCode::kInvalidParameters);
  EXPECT_EQ(Send(Command::kAddAccount, {{PARAM_NAME, "work"}, {PARAM_SERVER, "10.0.0.1"}, {PARAM_CERT_PATH, Pki("rsa.der")}}),
            ResultCode::kCertNotStored);
  EXPECT_TRUE(Entries("user").empty());

  EXPECT_EQ(Send(Command::kAddAccount, {{PARAM_NAME, "work"}, {PARAM_SERVER, "10.0.0.1"}, {PARAM_CERT_PATH, Pki("chain.p7b")}},
                 {{PARAM_MTU, 1300}}),
            0);
  EXPECT_EQ(Send(Command::kAddAccount, {{PARAM_NAME, "home"}, {PARAM_SERVER, "10.0.0.2"}, {PARAM_CERT_PATH, Pki("user.pem")}}),
            0);
  EXPECT_EQ(Send(Command::kAddAccount, {{PARAM_NAME, "home"}, {PARAM_SERVER, "10.0.0.2"}, {PARAM_CERT_PATH, Pki("user.pem")}}),
            ResultCode::kAlreadyExists);
  EXPECT_EQ(Entries("user"), std::vector<std::string>{"0000"}) << "the end entity once";
  EXPECT_EQ(Entries("ca"), (std::vector<std::string>{"0000", "0001"})) << "the chain's CAs";

  _Account work, home;
  work.name = "work";
  home.name = "home";
  ASSERT_EQ(UserConfig().GetAccount(work), 0);
  ASSERT_EQ(UserConfig().GetAccount(home), 0);
  EXPECT_EQ(work.cert, "0000");
  EXPECT_EQ(home.cert, "0000");
  EXPECT_EQ(work.user, "tester");
  EXPECT_EQ(work.conn.mtu, 1300);
  EXPECT_EQ(work.conn.server_ip, 0x0A000001u);
}
