#include "config/event_log.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "config/test_dir.h"
#include "impex/result_codes.h"

namespace {

constexpr int64_t kLimit = 10485760;

std::string Header(int64_t offset) {
  std::string out;
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(static_cast<uint64_t>(offset) >> (8 * i)));
  return out + "\n";
}

int64_t HeaderOffset(const std::string &file) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(file[i]);
  return static_cast<int64_t>(value);
}

// A line as the log writes it, with a fixed time.
std::string Line(const std::string &level, const std::string &time, const std::string &user,
                 const std::string &text) {
  std::string padded = level;
  padded.resize(5, ' ');
  return padded + " | " + time + " |          1.2.3.4 | " + user + " | " + text + "\n";
}

// "dd.mm.yyyy hh:mm:ss" in shape.
bool TimeShaped(const std::string &text) {
  const std::string shape = "00.00.0000 00:00:00";
  if (text.size() != shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i)
    if (shape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != shape[i])
      return false;
  return true;
}

struct Listing {
  int result;
  std::vector<std::string> lines;
};

Listing List(EventLog &log, const std::string &user = "", const std::string &levels = "",
             const std::string &from = "", const std::string &to = "") {
  char *text = nullptr;
  size_t len = 0;
  FILE *sink = open_memstream(&text, &len);
  Listing out{log.Output(user, levels, from, to, sink), {}};
  std::fclose(sink);
  std::istringstream in(std::string(text, len));
  std::free(text);
  for (std::string line; std::getline(in, line);) out.lines.push_back(line);
  return out;
}

// The text field of each listed line.
std::vector<std::string> Texts(const Listing &listing) {
  std::vector<std::string> out;
  for (const std::string &line : listing.lines) out.push_back(line.substr(line.rfind(" | ") + 3));
  return out;
}

using Texts_ = std::vector<std::string>;

class EventLogTest : public ::testing::Test {
 protected:
  std::unique_ptr<EventLog> NewWriter() {
    return std::make_unique<EventLog>(true, path, [this] { return now; });
  }
  std::unique_ptr<EventLog> NewReader() { return std::make_unique<EventLog>(false, path); }

  TestDir dir;
  std::string path = dir / "yrk.log";
  long now = 1000;
};

TEST_F(EventLogTest, NewFileHoldsOnlyTheHeaderWithMode0600) {
  const mode_t old_mask = umask(0);
  auto log = NewWriter();
  umask(old_mask);
  ASSERT_TRUE(log->IsOpen());
  EXPECT_EQ(ReadFile(path), Header(9));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(EventLogTest, AnExistingFileGetsMode0600AndKeepsItsLines) {
  WriteFile(path, Header(9 + 6) + "old 1\n");
  chmod(path.c_str(), 0644);
  auto log = NewWriter();
  struct stat st {};
  stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(log->Trigger(EventLog::INFO, 0, "u", "new"), 0);
  const std::string file = ReadFile(path);
  EXPECT_EQ(file.substr(9, 6), "old 1\n");
  EXPECT_EQ(HeaderOffset(file), static_cast<int64_t>(file.size()));
}

TEST_F(EventLogTest, LineFormat) {
  auto log = NewWriter();
  EXPECT_EQ(log->Trigger(EventLog::ERROR, 0x0a000102, "alice", "failed"), 0);
  EXPECT_EQ(log->Trigger(EventLog::INFO, 0, "", "ends with its newline\n"), 0);
  const std::string file = ReadFile(path);
  EXPECT_EQ(HeaderOffset(file), static_cast<int64_t>(file.size()));
  std::istringstream lines(file.substr(9));
  std::string first, second;
  ASSERT_TRUE(std::getline(lines, first) && std::getline(lines, second));
  EXPECT_EQ(first.substr(0, 8), "ERROR | ");
  EXPECT_TRUE(TimeShaped(first.substr(8, 19))) << first;
  EXPECT_EQ(first.substr(27), " |         10.0.1.2 | alice | failed");
  EXPECT_EQ(second.substr(0, 8), "INFO  | ");
  EXPECT_TRUE(TimeShaped(second.substr(8, 19))) << second;
  EXPECT_EQ(second.substr(27), " |          *.*.*.* | system | ends with its newline");
  EXPECT_EQ(file.back(), '\n');
  EXPECT_EQ(file.find("\n\n"), std::string::npos);
}

TEST_F(EventLogTest, ALineBreakInsideAFieldCannotForgeALine) {
  auto log = NewWriter();
  log->Trigger(EventLog::INFO, 0, "eve\nFATAL", "x\nERROR | 01.01.2026 00:00:00 | root | forged\r");
  const Listing all = List(*log, "", "INFO,ERROR,FATAL");
  ASSERT_EQ(all.lines.size(), 1u);
  EXPECT_NE(all.lines[0].find("eve FATAL | x ERROR | 01.01.2026"), std::string::npos) << all.lines[0];
  EXPECT_TRUE(List(*log, "", "ERROR,FATAL").lines.empty());
}

TEST_F(EventLogTest, ALineLongerThanTheBufferIsCutAtACharacterBoundary) {
  auto log = NewWriter();
  // Two-byte characters after an odd-length start: a cut at the byte limit
  // would fall inside one.
  const std::string text = "x" + [] {
    std::string s;
    for (size_t i = 0; i < EventLog::kBufferCapacity; ++i) s += "я";
    return s;
  }();
  EXPECT_EQ(log->Trigger(EventLog::INFO, 0, "u", "short"), 0);
  EXPECT_EQ(log->Trigger(EventLog::INFO, 0, "u", text), 0);
  EXPECT_EQ(log->Trigger(EventLog::INFO, 0, "u", "after"), 0);
  const std::string file = ReadFile(path);
  const size_t first = file.find('\n', 9) + 1;
  const size_t second = file.find('\n', first) + 1;
  const std::string long_line = file.substr(first, second - first);
  EXPECT_LE(long_line.size(), EventLog::kBufferCapacity);
  EXPECT_GE(long_line.size(), EventLog::kBufferCapacity - 1);
  EXPECT_EQ(long_line.substr(long_line.size() - 3), "я\n");
  const Listing listing = List(*log);
  ASSERT_EQ(listing.lines.size(), 3u);
  EXPECT_EQ(listing.lines[1] + "\n", long_line);
  EXPECT_EQ(Texts(listing)[2], "after");
}

TEST_F(EventLogTest, LevelsFilter) {
  auto log = NewWriter();
  const char *names[] = {"info", "error", "fatal", "traff", "debug"};
  for (int type = EventLog::INFO; type <= EventLog::DEBUG; ++type)
    log->Trigger(static_cast<EventLog::EventType>(type), 0, "u", names[type]);
  log->Write();
  EXPECT_EQ(Texts(List(*log)), (Texts_{"info", "error", "fatal"}));
  EXPECT_EQ(Texts(List(*log, "", "ERROR,FATAL")), (Texts_{"error", "fatal"}));
  EXPECT_EQ(Texts(List(*log, "", "FATAL and ERROR")), (Texts_{"error", "fatal"}));
  EXPECT_EQ(Texts(List(*log, "", "xxDEBUGxxTRAFF")), (Texts_{"traff", "debug"}));
  EXPECT_EQ(Texts(List(*log, "", "INFO")), (Texts_{"info"}));
  EXPECT_EQ(List(*log, "", "none").result, ResultCode::kInvalidParameters);
  EXPECT_EQ(List(*log, "", "error").result, ResultCode::kInvalidParameters);
}

TEST_F(EventLogTest, UserFilterMatchesAnywhereInTheLine) {
  auto log = NewWriter();
  log->Trigger(EventLog::INFO, 0, "alice", "one");
  log->Trigger(EventLog::INFO, 0, "bob", "two");
  log->Trigger(EventLog::INFO, 0, "", "about alice");
  EXPECT_EQ(Texts(List(*log, "alice")), (Texts_{"one", "about alice"}));
  EXPECT_EQ(Texts(List(*log, "bob")), (Texts_{"two"}));
  EXPECT_EQ(Texts(List(*log, "system")), (Texts_{"about alice"}));
  EXPECT_TRUE(List(*log, "carol").lines.empty());
}

TEST_F(EventLogTest, UserFieldMatchTakesTheWholeNameOnly) {
  auto log = NewWriter();
  log->Trigger(EventLog::INFO, 0, "alice", "one");
  log->Trigger(EventLog::INFO, 0, "al", "two");
  log->Trigger(EventLog::INFO, 0, "bob", "al | three");
  char *text = nullptr;
  size_t len = 0;
  FILE *sink = open_memstream(&text, &len);
  // A line too short to hold a user field, as a torn one can be.
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_EQ(::write(fd, "INFO  | short\n", 14), 14);
  close(fd);
  EXPECT_EQ(log->Output("al", "", "", "", sink, EventLog::UserMatch::kField), 0);
  std::fclose(sink);
  const std::string listed(text, len);
  std::free(text);
  EXPECT_NE(listed.find("| two\n"), std::string::npos);
  EXPECT_EQ(listed.find("one"), std::string::npos);
  EXPECT_EQ(listed.find("three"), std::string::npos);
}

TEST_F(EventLogTest, TimeRange) {
  const std::string data = Line("INFO", "31.12.2025 23:59:59", "u", "old") +
                           Line("INFO", "01.01.2026 00:00:00", "u", "new year") +
                           Line("INFO", "15.06.2026 12:30:00", "u", "summer") +
                           Line("INFO", "garbage time here!!", "u", "untimed") +
                           Line("INFO", "01.01.2027 00:00:00", "u", "next year");
  WriteFile(path, Header(static_cast<int64_t>(9 + data.size())) + data);
  EventLog log(false, path);
  EXPECT_EQ(Texts(List(log, "", "", "01.01.2026 00:00:00", "")),
            (Texts_{"new year", "summer", "untimed", "next year"}));
  EXPECT_EQ(Texts(List(log, "", "", "", "15.06.2026 12:30:00")),
            (Texts_{"old", "new year", "summer", "untimed"}));
  EXPECT_EQ(Texts(List(log, "", "", "01.01.2026 00:00:01", "31.12.2026 23:59:59")),
            (Texts_{"summer", "untimed"}));
  EXPECT_EQ(List(log, "", "", "01.13.2026 00:00:00", "").result, ResultCode::kInvalidParameters);
  EXPECT_EQ(List(log, "", "", "", "yesterday").result, ResultCode::kInvalidParameters);
}

TEST(EventLogTime, String2TimeAndCompareTime) {
  struct tm t {};
  ASSERT_EQ(EventLog::String2Time("07.03.2026 09:05:01", t), 0);
  EXPECT_EQ(t.tm_mday, 7);
  EXPECT_EQ(t.tm_mon, 2);
  EXPECT_EQ(t.tm_year, 126);
  EXPECT_EQ(t.tm_hour, 9);
  EXPECT_EQ(t.tm_min, 5);
  EXPECT_EQ(t.tm_sec, 1);
  for (const char *bad : {"00.01.2026 00:00:00", "32.01.2026 00:00:00", "01.13.2026 00:00:00",
                          "01.00.2026 00:00:00", "01.01.3001 00:00:00", "01.01.2026 24:00:00",
                          "01.01.2026 00:60:00", "01.01.2026 00:00:60", "01.01.2026 00:00",
                          "", "01.01.2026 00:00:99999999999999999999", "01.01.-001 00:00:00"})
    EXPECT_EQ(EventLog::String2Time(bad, t), -1) << bad;
  EXPECT_EQ(EventLog::String2Time("31.12.3000 23:59:59", t), 0);
  EXPECT_EQ(EventLog::String2Time("01.01.0000 00:00:00", t), 0);

  struct tm a {}, b {};
  EventLog::String2Time("01.02.2026 10:00:00", a);
  EventLog::String2Time("01.02.2026 10:00:00", b);
  EXPECT_EQ(EventLog::CompareTime(a, b), 0);
  for (const char *later : {"01.02.2026 10:00:01", "01.02.2026 10:01:00", "01.02.2026 11:00:00",
                            "02.02.2026 00:00:00", "01.03.2026 00:00:00", "01.01.2027 00:00:00"}) {
    EventLog::String2Time(later, b);
    EXPECT_EQ(EventLog::CompareTime(a, b), -1) << later;
    EXPECT_EQ(EventLog::CompareTime(b, a), 1) << later;
  }
}

TEST_F(EventLogTest, TrafficWaitsForThreeSecondsOrAnotherEvent) {
  {
    auto log = NewWriter();
    log->Trigger(EventLog::TRAFF, 0, "u", "t1");
    EXPECT_EQ(ReadFile(path).size(), 9u);
    now += 2;
    log->Trigger(EventLog::TRAFF, 0, "u", "t2");
    EXPECT_EQ(ReadFile(path).size(), 9u);
    now += 1;  // three seconds since the last flush
    log->Trigger(EventLog::TRAFF, 0, "u", "t3");
    EXPECT_EQ(Texts(List(*log, "", "TRAFF")), (Texts_{"t1", "t2"}));
    log->Trigger(EventLog::DEBUG, 0, "u", "d");
    EXPECT_EQ(Texts(List(*log, "", "TRAFF,DEBUG")), (Texts_{"t1", "t2", "t3", "d"}));
    log->Trigger(EventLog::TRAFF, 0, "u", "t4");
    now -= 3600;  // the clock set back: t4 does not wait an hour
    log->Trigger(EventLog::TRAFF, 0, "u", "t5");
    EXPECT_EQ(Texts(List(*log, "", "TRAFF")), (Texts_{"t1", "t2", "t3", "t4"}));
    log->Trigger(EventLog::TRAFF, 0, "u", "t6");
  }
  // Closing the log keeps what was still buffered.
  EventLog reader(false, path);
  EXPECT_EQ(Texts(List(reader, "", "TRAFF")), (Texts_{"t1", "t2", "t3", "t4", "t5", "t6"}));
}

TEST_F(EventLogTest, TrafficFlushesWhenTheBufferWouldOverflow) {
  auto log = NewWriter();
  const std::string text(100000, 'x');
  for (int i = 0; i < 10; ++i) log->Trigger(EventLog::TRAFF, 0, "u", text);
  EXPECT_EQ(ReadFile(path).size(), 9u);  // an eleventh line would not fit in 1 MiB
  log->Trigger(EventLog::TRAFF, 0, "u", text);
  EXPECT_GT(ReadFile(path).size(), 1000000u);
  EXPECT_EQ(List(*log, "", "TRAFF").lines.size(), 10u);
}

TEST_F(EventLogTest, AFlushPastTheLimitWrapsAndListsOlderLinesFirst) {
  // Old lines of 100 bytes each, numbered, up to just below the limit.
  const auto numbered = [](int n) {
    std::string number = std::to_string(n);
    return "old " + std::string(6 - number.size(), '0') + number;
  };
  const size_t pad = 100 - Line("INFO", "01.01.2026 00:00:00", "u", numbered(0)).size();
  std::string data;
  int count = 0;
  while (9 + data.size() + 100 <= static_cast<size_t>(kLimit) - 50)
    data += Line("INFO", "01.01.2026 00:00:00", "u", numbered(count++) + std::string(pad, '.'));
  WriteFile(path, Header(static_cast<int64_t>(9 + data.size())) + data);
  auto log = NewWriter();
  // A line of 254 bytes passes the limit: it goes to offset 9 over the first
  // two old lines and half the third.
  log->Trigger(EventLog::ERROR, 0, "u", "new " + std::string(196, '.'));
  const std::string file = ReadFile(path);
  EXPECT_EQ(file.size(), 9 + data.size());
  EXPECT_EQ(HeaderOffset(file), 9 + 254);
  EXPECT_EQ(file.substr(9, 5), "ERROR");

  const Texts_ texts = Texts(List(*log, "", "INFO,ERROR"));
  ASSERT_EQ(texts.size(), static_cast<size_t>(count - 3 + 1));
  EXPECT_EQ(texts.front().substr(0, 10), numbered(3));
  EXPECT_EQ(texts[count - 4].substr(0, 10), numbered(count - 1));
  EXPECT_EQ(texts.back().substr(0, 4), "new ");
}

TEST_F(EventLogTest, ADamagedHeaderNeitherOverreadsNorLoops) {
  const std::string data = Line("INFO", "01.01.2026 00:00:00", "u", "first") +
                           Line("INFO", "01.01.2026 00:00:00", "u", "second");
  const int64_t size = static_cast<int64_t>(9 + data.size());
  for (int64_t offset : {int64_t{-5}, int64_t{0}, int64_t{8}, size + 1, size + 100000,
                         INT64_MAX, INT64_MIN}) {
    WriteFile(path, Header(offset) + data);
    EventLog reader(false, path);
    const Listing listing = List(reader);
    EXPECT_EQ(listing.result, 0) << offset;
    EXPECT_EQ(Texts(listing), (Texts_{"first", "second"})) << offset;
  }
  // A header without its newline, and files too short for one.
  WriteFile(path, Header(size).substr(0, 8) + "x" + data);
  EXPECT_EQ(Texts(List(*NewReader())), (Texts_{"first", "second"}));
  for (const std::string &stub : {std::string(), std::string("\x09\0\0", 3), Header(9)}) {
    WriteFile(path, stub);
    const Listing listing = List(*NewReader());
    EXPECT_EQ(listing.result, 0);
    EXPECT_TRUE(listing.lines.empty());
  }
}

TEST_F(EventLogTest, AWriterRepairsADamagedHeaderWithoutLosingLines) {
  const std::string data = Line("INFO", "01.01.2026 00:00:00", "u", "kept");
  for (int64_t offset : {int64_t{-1}, int64_t{3}, int64_t{1} << 40}) {
    WriteFile(path, Header(offset) + data);
    auto log = NewWriter();
    log->Trigger(EventLog::INFO, 0, "u", "added");
    const std::string file = ReadFile(path);
    EXPECT_EQ(HeaderOffset(file), static_cast<int64_t>(file.size())) << offset;
    EXPECT_EQ(Texts(List(*log)), (Texts_{"kept", "added"})) << offset;
  }
  // A file shorter than a header starts afresh.
  WriteFile(path, "abc");
  auto log = NewWriter();
  EXPECT_EQ(ReadFile(path), Header(9));
}

TEST_F(EventLogTest, ATornLastLineStillLists) {
  const std::string whole = Line("INFO", "01.01.2026 00:00:00", "u", "whole");
  const std::string torn = "INFO  | 01.01.2026 00:00:00 |          1.2.3.4 | u | tor";
  WriteFile(path, Header(static_cast<int64_t>(9 + whole.size() + torn.size())) + whole + torn);
  EXPECT_EQ(Texts(List(*NewReader())), (Texts_{"whole", "tor"}));

  // In a wrapped ring the torn line ends at the end of the file, not glued to
  // the first line at offset 9.
  const std::string newer = Line("ERROR", "01.01.2026 00:00:00", "u", "newer");
  WriteFile(path, Header(static_cast<int64_t>(9 + newer.size())) + newer + whole + torn);
  EXPECT_EQ(Texts(List(*NewReader(), "", "INFO,ERROR")), (Texts_{"whole", "tor", "newer"}));
  // And a writer continues after it on its own line.
  {
    WriteFile(path, Header(static_cast<int64_t>(9 + whole.size() + torn.size())) + whole + torn);
    auto log = NewWriter();
    log->Trigger(EventLog::INFO, 0, "u", "next");
    EXPECT_EQ(Texts(List(*log)), (Texts_{"whole", "tor", "next"}));
  }
}

TEST_F(EventLogTest, AShortWriteRestartsTheRingAtNine) {
  {
    auto log = NewWriter();
    log->Trigger(EventLog::INFO, 0, "u", "before");
  }
  const size_t size = ReadFile(path).size();
  // The file may not grow past size + 20: the next line is written short.
  EXPECT_TRUE(RunInChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{size + 20, size + 20};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
    EventLog log(true, path);
    log.Trigger(EventLog::INFO, 0, "u", "cut short by the file size limit");
    return HeaderOffset(ReadFile(path)) == 9;
  }));
  const Listing listing = List(*NewReader());
  EXPECT_EQ(listing.result, 0);
  ASSERT_GE(listing.lines.size(), 1u);
  EXPECT_EQ(Texts(listing)[0], "before");
  // The next flush writes from 9 on.
  auto log = NewWriter();
  log->Trigger(EventLog::INFO, 0, "u", "after");
  const std::string file = ReadFile(path);
  EXPECT_EQ(file.substr(9, 5), "INFO ");
  EXPECT_NE(file.find("after"), std::string::npos);
}

TEST_F(EventLogTest, NeverFollowsASymlinkOrOpensANonFile) {
  const std::string target = dir / "target";
  WriteFile(target, "precious");
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
  {
    auto log = NewWriter();
    EXPECT_FALSE(log->IsOpen());
    EXPECT_EQ(log->Trigger(EventLog::INFO, 0, "u", "x"), -1);
    EXPECT_EQ(List(*log).result, ResultCode::kLogUnreadable);
    EXPECT_EQ(List(*NewReader()).result, ResultCode::kLogUnreadable);
  }
  EXPECT_EQ(ReadFile(target), "precious");
  unlink(path.c_str());
  // A FIFO would block a reader's open forever.
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_FALSE(NewReader()->IsOpen());
  EXPECT_FALSE(NewWriter()->IsOpen());
}

TEST_F(EventLogTest, MissingOrReadOnlyLog) {
  auto reader = NewReader();
  EXPECT_FALSE(reader->IsOpen());
  EXPECT_EQ(List(*reader).result, ResultCode::kLogUnreadable);
  NewWriter();
  auto opened = NewReader();
  EXPECT_EQ(opened->Trigger(EventLog::INFO, 0, "u", "x"), -1);
  EXPECT_EQ(List(*opened).result, 0);
  EXPECT_EQ(ReadFile(path).size(), 9u);
}

TEST_F(EventLogTest, ThreadsWriteWholeLines) {
  auto log = NewWriter();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 300; ++i)
        log->Trigger(i % 2 ? EventLog::INFO : EventLog::TRAFF, 0, "thread" + std::to_string(t),
                     std::string(50 + i, 'a' + t));
    });
  for (auto &thread : threads) thread.join();
  log->Write();
  const Listing listing = List(*log, "", "INFO,TRAFF");
  ASSERT_EQ(listing.lines.size(), 1200u);
  for (const std::string &line : listing.lines) {
    ASSERT_TRUE(line.starts_with("INFO  | ") || line.starts_with("TRAFF | ")) << line;
    ASSERT_TRUE(TimeShaped(line.substr(8, 19))) << line;
    const size_t user = line.find(" | thread");
    ASSERT_NE(user, std::string::npos) << line;
    const char thread = line[user + 9];
    const std::string text = line.substr(user + 13);
    ASSERT_EQ(line.substr(user + 10, 3), " | ") << line;
    ASSERT_GE(text.size(), 50u);
    EXPECT_EQ(text, std::string(text.size(), static_cast<char>('a' + (thread - '0')))) << line;
  }
}

TEST_F(EventLogTest, OutputPrintsToStandardOutputByDefault) {
  auto log = NewWriter();
  log->Trigger(EventLog::INFO, 0, "u", "shown");
  testing::internal::CaptureStdout();
  EXPECT_EQ(log->Output("", "", "", ""), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.substr(out.size() - 7), " shown\n");
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
}

TEST_F(EventLogTest, ReadLineAcrossBufferBoundaries) {
  // Line lengths around the reader's 64 KiB pieces, an empty line, and a
  // last line without a newline.
  std::string data;
  std::vector<std::string> expected;
  for (size_t len : {size_t{0}, size_t{65535}, size_t{1}, size_t{65534}, size_t{65536},
                     size_t{200000}, size_t{3}}) {
    expected.push_back(std::string(len, static_cast<char>('a' + expected.size())));
    data += expected.back() + "\n";
  }
  expected.push_back("tail");
  data += "tail";
  WriteFile(path, data);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EventLog::Span span;
  span.end = static_cast<off_t>(data.size());
  std::vector<std::string> got;
  std::string line;
  while (EventLog::ReadLine(line, fd, span) == 1) got.push_back(line);
  close(fd);
  EXPECT_EQ(got, expected);
}

TEST_F(EventLogTest, ReadLineKeepsAtMostTheBufferCapacityOfALine) {
  const std::string huge(EventLog::kBufferCapacity * 3, 'z');
  WriteFile(path, huge + "\nnext\n");
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EventLog::Span span;
  span.end = static_cast<off_t>(huge.size() + 6);
  std::string line;
  ASSERT_EQ(EventLog::ReadLine(line, fd, span), 1);
  EXPECT_EQ(line.size(), EventLog::kBufferCapacity);
  ASSERT_EQ(EventLog::ReadLine(line, fd, span), 1);
  EXPECT_EQ(line, "next");
  EXPECT_EQ(EventLog::ReadLine(line, fd, span), 0);
  close(fd);
}

}  // namespace
