#include "daemon/script.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <stdexcept>

#include "channel/session_state.h"

namespace {

Script Parse(const std::string &text) {
  std::istringstream in(text);
  return Script::Parse(in);
}

std::string Text(const Step &step) {
  return std::string(step.bytes.begin(), step.bytes.end());
}

TEST(Script, UnnamedKindsGetValueZero) {
  const Script script = Parse("# nothing but a comment\n\n");
  const auto &steps = script.Answer(6);
  ASSERT_EQ(steps.size(), 1u);
  EXPECT_EQ(steps[0].type, Step::Type::kMessage);
  EXPECT_EQ(steps[0].kind, 7);
  EXPECT_EQ(steps[0].bytes, (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST(Script, ConnectDisconnectAndStatisticsGetASucceedingDaemonsAnswers) {
  const Script script = Parse("");
  const auto &connect = script.Answer(1);
  ASSERT_EQ(connect.size(), 3u);
  EXPECT_EQ(connect[0].kind, 6);
  EXPECT_EQ(Text(connect[0]), std::string("Подключение...\0", sizeof "Подключение..."));
  EXPECT_EQ(connect[1].kind, 8);
  ASSERT_EQ(connect[1].bytes.size(), sizeof(_session_state));
  _session_state state;
  std::memcpy(&state, connect[1].bytes.data(), sizeof state);
  EXPECT_EQ(state.status, kSessionUp);
  EXPECT_STREQ(state.account, "stand-in");
  EXPECT_EQ(connect[2].kind, 0);
  EXPECT_EQ(Text(connect[2]), std::string("Соединение установлено\0", sizeof "Соединение установлено"));

  const auto &disconnect = script.Answer(2);
  ASSERT_EQ(disconnect.size(), 1u);
  EXPECT_EQ(disconnect[0].kind, 0);
  EXPECT_EQ(Text(disconnect[0]), std::string("Соединение разорвано\0", sizeof "Соединение разорвано"));

  const auto &stats = script.Answer(3);
  ASSERT_EQ(stats.size(), 2u);
  EXPECT_EQ(stats[0].kind, 8);
  EXPECT_EQ(stats[0].bytes.size(), 180u);
  EXPECT_EQ(stats[1].kind, 7);
  EXPECT_EQ(stats[1].bytes, (std::vector<uint8_t>{0, 0, 0, 0}));

  // A line of the script, or a "*" line, overrides them.
  EXPECT_EQ(Parse("1: int 7 -1034\n").Answer(1).size(), 1u);
  EXPECT_TRUE(Parse("3: silent\n").Answer(3).empty());
  EXPECT_EQ(Parse("*: int 7 5\n").Answer(2)[0].kind, 7);
}

TEST(Script, StepsInOrder) {
  const Script script = Parse(
      "1: text 6 \"a; \\\"quoted\\\" text\"; sleep 250\n"
      "1: int 7 -1034\n"
      "3: state 2; hex 9 00ff; raw 0102\n");
  const auto &connect = script.Answer(1);
  ASSERT_EQ(connect.size(), 3u);
  EXPECT_EQ(connect[0].kind, 6);
  EXPECT_EQ(Text(connect[0]), std::string("a; \"quoted\" text\0", 17));
  EXPECT_EQ(connect[1].type, Step::Type::kSleep);
  EXPECT_EQ(connect[1].delay_ms, 250);
  int32_t value;
  ASSERT_EQ(connect[2].bytes.size(), 4u);
  std::memcpy(&value, connect[2].bytes.data(), 4);
  EXPECT_EQ(value, -1034);

  const auto &stats = script.Answer(3);
  ASSERT_EQ(stats.size(), 3u);
  EXPECT_EQ(stats[0].kind, 8);
  EXPECT_EQ(stats[0].bytes, std::vector<uint8_t>(180, 2));
  EXPECT_EQ(stats[1].bytes, (std::vector<uint8_t>{0x00, 0xff}));
  EXPECT_EQ(stats[2].type, Step::Type::kRaw);
  EXPECT_EQ(stats[2].bytes, (std::vector<uint8_t>{1, 2}));
}

TEST(Script, SilenceAndFallback) {
  const Script script = Parse("6: silent\n*: text 0 done\n");
  EXPECT_TRUE(script.Answer(6).empty());
  ASSERT_EQ(script.Answer(2).size(), 1u);
  EXPECT_EQ(script.Answer(2)[0].kind, 0);
  EXPECT_EQ(Text(script.Answer(2)[0]), std::string("done\0", 5));
}

TEST(Script, MalformedLinesNameTheirLine) {
  for (const char *bad : {"1 int 7 0", "x: int 7 0", "1: int 7", "1: int 7 zero", "1: bogus",
                          "1: text 6 \"open", "1: hex 7 abc", "1: state 256", "1: sleep -1",
                          "1: int 7 0;", ": int 7 0", "1: \"text\" 6"}) {
    try {
      Parse("# first\n" + std::string(bad) + "\n");
      ADD_FAILURE() << "accepted: " << bad;
    } catch (const std::runtime_error &e) {
      EXPECT_EQ(std::string(e.what()).rfind("line 2: ", 0), 0u) << e.what();
    }
  }
}

}  // namespace
