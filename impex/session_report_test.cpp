#include "impex/session_report.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

_session_state Session(const char *account, uint32_t server, int32_t status) {
  _session_state state{};
  std::strncpy(state.account, account, sizeof state.account - 1);
  state.server_ip = server;
  state.server_port = 4500;
  state.status = status;
  state.uptime = 3725;
  state.bytes_received = 123456;
  state.frames_received = 100;
  return state;
}

// Characters before `text` in `line` (UTF-8 aware).
size_t ColumnOf(const std::string &line, const std::string &text) {
  const std::string before = line.substr(0, line.find(text));
  size_t width = 0;
  for (unsigned char c : before) width += (c & 0xC0) != 0x80;
  return width;
}

TEST(SessionReport, TableAlignsColumnsByCharacters) {
  const std::string table =
      SessionTable({Session("дом", 0x0A000001, kSessionUp), Session("w", 0x0A000002, kSessionConnecting)});
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = table.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(table.substr(start, end - start));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(ColumnOf(lines[1], "10.0.0.1:4500"), ColumnOf(lines[0], "Сервер"));
  EXPECT_EQ(ColumnOf(lines[2], "10.0.0.2:4500"), ColumnOf(lines[0], "Сервер"));
  EXPECT_NE(lines[1].find("установлено"), std::string::npos);
  EXPECT_NE(lines[1].find("1:02:05"), std::string::npos);
  EXPECT_NE(lines[1].find("123456/100"), std::string::npos);
  EXPECT_NE(lines[2].find("подключение"), std::string::npos);
  EXPECT_EQ(SessionTable({}), "Нет активных соединений\n");
}

TEST(SessionReport, JsonEscapesAndNeverReadsPastTheAccountField) {
  _session_state state = Session("a\"b\\c\n", 0x0A000001, kSessionUp);
  EXPECT_NE(SessionJson({state}, 0).find(R"("account": "a\"b\\c\u000a")"), std::string::npos);
  std::memset(state.account, 'x', sizeof state.account);  // no NUL at all
  const std::string json = SessionJson({state}, -1019);
  EXPECT_NE(json.find("\"account\": \"" + std::string(sizeof state.account, 'x') + "\""), std::string::npos);
  EXPECT_EQ(json.rfind("{\"result\": -1019, \"sessions\": [{", 0), 0u);
  EXPECT_EQ(SessionJson({}, 0), "{\"result\": 0, \"sessions\": []}\n");
  std::strcpy(state.account, "д\xff\xd0");  // a stray byte and a sequence cut short
  EXPECT_NE(SessionJson({state}, 0).find(R"("account": "д\ufffd\ufffd")"), std::string::npos);
}

}  // namespace
