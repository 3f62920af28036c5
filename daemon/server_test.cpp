#include "daemon/server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "channel/message_kinds.h"
#include "daemon/daemon_testing.h"

namespace {

using namespace RequestLayout;

TEST(RequestEvents, ConnectAndDisconnectNameTheServerAndTheRequestsUser) {
  const auto payload = ConnectPayload(0x0a000001, "secret", "alice");
  RequestEvent e = EventFor(RequestKind::kConnect, payload, 0, "root");
  EXPECT_EQ(e.type, EventLog::INFO);
  EXPECT_EQ(e.address, 0x0a000001u);
  EXPECT_EQ(e.user, "alice");
  EXPECT_EQ(e.text, "Запрос на подключение");
  e = EventFor(RequestKind::kDisconnect, payload, 0, "root");
  EXPECT_EQ(e.text, "Запрос на отключение");
  EXPECT_EQ(e.user, "alice");
  // Root without a name in the block is root.
  EXPECT_EQ(EventFor(RequestKind::kConnect, ConnectPayload(1, "", ""), 0, "root").user, "root");
}

TEST(RequestEvents, OnlyRootActsForAnotherUser) {
  EXPECT_EQ(EventFor(RequestKind::kConnect, ConnectPayload(1, "p", "alice"), 1000, "bob").user, "bob");
  const RequestEvent e = EventFor(RequestKind::kLog, LogPayload(2, "root", "forged"), 1000, "bob");
  EXPECT_EQ(e.user, "bob");
  EXPECT_EQ(e.type, EventLog::FATAL);
  EXPECT_EQ(e.text, "forged");
  EXPECT_EQ(EventFor(RequestKind::kLog, LogPayload(0, "alice", "t"), 0, "root").user, "alice");
  // Root's empty name stays empty: the log writes "system".
  EXPECT_EQ(EventFor(RequestKind::kLog, LogPayload(0, "", "t"), 0, "root").user, "");
}

TEST(RequestEvents, StatisticsParametersAndLogRequests) {
  RequestEvent e = EventFor(RequestKind::kStatistics, RecordPayload(0x7f000001), 1000, "bob");
  EXPECT_EQ(e.type, EventLog::DEBUG);
  EXPECT_EQ(e.address, 0x7f000001u);
  EXPECT_EQ(e.user, "bob");
  EXPECT_EQ(e.text, "Запрос статистики");
  e = EventFor(RequestKind::kParameters, RecordPayload(0), 1000, "bob");
  EXPECT_EQ(e.type, EventLog::INFO);
  EXPECT_EQ(e.text, "Параметры соединения обновлены");
  for (int32_t type : {-5, 0, 3, 4, 99}) {
    e = EventFor(RequestKind::kLog, LogPayload(type, "", "text"), 0, "root");
    EXPECT_EQ(e.type, std::clamp(type, 0, 4)) << type;
    EXPECT_EQ(e.address, 0u);
  }
}

TEST(RequestEvents, MalformedPayloadsAndUnknownKindsAreErrors) {
  const auto error = [](int kind, const std::vector<uint8_t> &payload, const std::string &text) {
    const RequestEvent e = EventFor(kind, payload, 1000, "bob");
    EXPECT_EQ(e.type, EventLog::ERROR) << kind;
    EXPECT_EQ(e.user, "bob");
    EXPECT_EQ(e.text, text) << kind;
  };
  auto unterminated_user = ConnectPayload(1, "p", std::string(kName, 'u'));
  error(RequestKind::kConnect, unterminated_user, "Искажённый запрос: вид 1");
  error(RequestKind::kConnect, RecordPayload(1), "Искажённый запрос: вид 1");
  error(RequestKind::kDisconnect, {}, "Искажённый запрос: вид 2");
  error(RequestKind::kStatistics, std::vector<uint8_t>(43), "Искажённый запрос: вид 3");
  error(RequestKind::kParameters, {}, "Искажённый запрос: вид 6");
  auto no_nul = LogPayload(0, "u", "text");
  no_nul.pop_back();
  error(RequestKind::kLog, no_nul, "Искажённый запрос: вид 7");
  error(RequestKind::kLog, std::vector<uint8_t>(4 + kName, 'x'), "Искажённый запрос: вид 7");
  error(RequestKind::kLog, LogPayload(0, std::string(kName, 'u'), "t"), "Искажённый запрос: вид 7");
  error(RequestKind::kLog, {1, 0}, "Искажённый запрос: вид 7");
  error(5, RecordPayload(0), "Неизвестный запрос: вид 5");
  error(-1, {}, "Неизвестный запрос: вид -1");
}

TEST(RequestEvents, TheHexDumpHidesThePassword) {
  const std::string password(64, 'P');  // 0x50
  const auto payload = ConnectPayload(1, password, "alice");
  for (int kind : {RequestKind::kConnect, RequestKind::kDisconnect}) {
    const std::string hex = MaskedHex(kind, payload);
    ASSERT_EQ(hex.size(), payload.size() * 2);
    EXPECT_EQ(hex.find("5050"), std::string::npos) << hex;
    EXPECT_EQ(hex.substr(kPassword * 2, kName * 2), std::string(kName * 2, '0'));
    EXPECT_EQ(hex.substr(kBlockUser * 2, 10), "616c696365");  // alice
    EXPECT_EQ(hex.substr(kRecord * 2, 2), "2a");  // the certificate number
  }
  // A short payload has the part of the password it holds hidden.
  const std::vector<uint8_t> cut(payload.begin(), payload.begin() + kPassword + 3);
  EXPECT_EQ(MaskedHex(RequestKind::kConnect, cut).substr(kPassword * 2), "000000");
  // Other kinds are shown as they are.
  EXPECT_EQ(MaskedHex(RequestKind::kParameters, {0x50, 0xab}), "50ab");
}

TEST(RequestEvents, UserNames) {
  EXPECT_EQ(UserName(0), "root");
  EXPECT_EQ(UserName(4000000000u), "uid 4000000000");
}

}  // namespace
