// Runs the yrkd binary on scratch paths and talks to it through the real
// command issuer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "channel/cmd_issuer.h"
#include "channel/message_kinds.h"
#include "config/event_log.h"
#include "daemon/daemon_testing.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using UserInterface::CmdIssuer;

// Whether a line has these fields after its time: address, user, text.
bool Has(const std::vector<std::string> &lines, const std::string &level,
         const std::string &address, const std::string &user, const std::string &text) {
  std::string padded_level = level;
  padded_level.resize(5, ' ');
  std::string padded_address = address;
  padded_address.insert(0, 16 - address.size(), ' ');
  const std::string tail = " | " + padded_address + " | " + user + " | " + text;
  for (const std::string &line : lines)
    if (line.starts_with(padded_level + " | ") && line.ends_with(tail)) return true;
  return false;
}

std::string Lines(const std::vector<std::string> &lines) {
  std::string out;
  for (const std::string &line : lines) out += line + "\n";
  return out;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class Yrkd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = fs::temp_directory_path() / "yrkd-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    daemon = dir + "/daemon.soc";
    client = dir + "/client.soc";
    log = dir + "/log";
    events = dir + "/events.log";
    semaphore = "/yrkd-test-" + std::to_string(getpid());
  }

  void TearDown() override {
    if (pid > 0) {
      kill(pid, SIGTERM);
      int status = 0;
      waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(log);
      EXPECT_FALSE(fs::exists(daemon)) << "socket left behind";
      EXPECT_NE(ReadFile(log).find("yrkd stopped"), std::string::npos);
    }
    sem_unlink(semaphore.c_str());
    fs::remove_all(dir);
  }

  // Starts yrkd with the script and waits until it reports readiness;
  // returns its exit status instead when it ends first.
  int Start(const std::string &script_text) {
    const std::string script = dir + "/script";
    std::ofstream(script) << script_text;
    std::vector<std::string> args{YRKD_PATH, "-s", script,    "-S", daemon,
                                  "-m",      semaphore, "-l", events};
    std::vector<char *> argv;
    for (auto &arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid = fork();
    if (pid == 0) {
      // The daemon must not outlive a test run that crashes.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      dup2(out, 1);
      dup2(out, 2);
      execv(YRKD_PATH, argv.data());
      _exit(127);
    }
    close(out);
    if (pid < 0) return -1;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
      if (ReadFile(log).find("yrkd ready") != std::string::npos) return 0;
      int status;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }

  int Put(int kind, CmdIssuer::SecondsClock clock = Time) {
    Message request(kind);
    const unsigned char record[44] = {0xaa, 0xbb};
    request.Add(record, sizeof record);
    CmdIssuer issuer(nullptr, client, daemon, std::move(clock));
    return issuer.Put(request);
  }

  // Sends a request with this payload from the given client socket.
  int PutPayload(int kind, const std::vector<uint8_t> &payload, const std::string &from = "") {
    Message request(kind);
    request.Add(payload.data(), static_cast<unsigned>(payload.size()));
    CmdIssuer issuer(nullptr, from.empty() ? client : from, daemon);
    return issuer.Put(request);
  }

  // The event log's lines of every level.
  std::vector<std::string> Events() {
    EventLog reader(false, events);
    char *text = nullptr;
    size_t len = 0;
    FILE *sink = open_memstream(&text, &len);
    EXPECT_EQ(reader.Output("", "INFO,ERROR,FATAL,TRAFF,DEBUG", "", "", sink), 0);
    std::fclose(sink);
    std::istringstream in(std::string(text, len));
    std::free(text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  sockaddr_un DaemonAddress() const {
    sockaddr_un to{};
    to.sun_family = AF_UNIX;
    std::strcpy(to.sun_path, daemon.c_str());
    return to;
  }

  // Sends raw datagrams to the daemon from an unnamed socket.
  void SendRaw(const std::string &bytes) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    const sockaddr_un to = DaemonAddress();
    EXPECT_EQ(sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                     sizeof to),
              static_cast<ssize_t>(bytes.size()));
    close(fd);
  }

  // Sends a kind-3 request without payload from fd; the answer's first
  // datagram read as a header, "kind/length", or "none" after two seconds.
  std::string RequestFrom(int fd) {
    const sockaddr_un to = DaemonAddress();
    const int32_t header[2] = {3, 0};
    for (size_t len : {sizeof header, size_t{0}})
      EXPECT_EQ(sendto(fd, header, len, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to),
                static_cast<ssize_t>(len));
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 2000) != 1) return "none";
    int32_t answer[2] = {-1, -1};
    recv(fd, answer, sizeof answer, 0);
    return std::to_string(answer[0]) + "/" + std::to_string(answer[1]);
  }

  std::string Log() { return ReadFile(log); }

  std::string dir, daemon, client, log, events, semaphore;
  pid_t pid = -1;
};

TEST_F(Yrkd, AnswersValueZeroByDefaultAndLogsTheRequest) {
  ASSERT_EQ(Start(""), 0);
  EXPECT_EQ(Put(6), 0);
  EXPECT_NE(Log().find("request kind=6 length=44 payload=aabb0000"), std::string::npos) << Log();
}

TEST_F(Yrkd, CreatesTheSemaphoreWithValueOne) {
  ASSERT_EQ(Start(""), 0);
  sem_t *sem = sem_open(semaphore.c_str(), 0);
  ASSERT_NE(sem, SEM_FAILED);
  int value = -1;
  sem_getvalue(sem, &value);
  EXPECT_EQ(value, 1);
  sem_close(sem);
}

TEST_F(Yrkd, ReportsASemaphoreFoundHeld) {
  sem_t *sem = sem_open(semaphore.c_str(), O_CREAT, 0600, 0);
  ASSERT_NE(sem, SEM_FAILED);
  sem_close(sem);
  ASSERT_EQ(Start(""), 0);
  EXPECT_NE(Log().find("semaphore " + semaphore + " found at 0"), std::string::npos) << Log();
}

TEST_F(Yrkd, ScriptedAnswersReachTheIssuer) {
  ASSERT_EQ(Start("1: text 6 \"Соединение...\"; sleep 300; int 7 -1034\n"
                  "3: state 1; state 2; text 0 \"done\"\n"
                  "6: silent\n"
                  "7: hex 7 0102\n"),
            0);
  const auto start = Clock::now();
  EXPECT_EQ(Put(1), -1034);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(Put(3), 0);
  EXPECT_EQ(Put(6, [seconds = 0L]() mutable { return seconds += 10; }), -1022);
  EXPECT_EQ(Put(7), -1035);  // a value too short to read
  EXPECT_EQ(Put(2), 0);      // not in the script
}

TEST_F(Yrkd, MalformedRequestsAreSkipped) {
  ASSERT_EQ(Start(""), 0);
  SendRaw("abc");                                        // short header
  SendRaw(std::string("\x06\0\0\0\xfb\xff\xff\xff", 8));  // negative length
  SendRaw(std::string("\x06\0\0\0\x0a\0\0\0", 8));        // announces 10 bytes...
  SendRaw("xyz");                                        // ...gets 3
  EXPECT_EQ(Put(6), 0);
  const std::string log_text = Log();
  EXPECT_NE(log_text.find("datagram of 3 bytes"), std::string::npos) << log_text;
  EXPECT_NE(log_text.find("with length -5"), std::string::npos) << log_text;
  EXPECT_NE(log_text.find("announced 10 payload bytes"), std::string::npos) << log_text;
}

TEST_F(Yrkd, AnswersTheRequestingSocketByPathOrAbstractName) {
  ASSERT_EQ(Start(""), 0);
  const std::string abstract = std::string(1, '\0') + "yrkd-test-" + std::to_string(getpid());
  for (const std::string &name : {dir + "/requester.soc", abstract}) {
    sockaddr_un self{};
    self.sun_family = AF_UNIX;
    std::memcpy(self.sun_path, name.data(), name.size());
    // A path ends at its NUL, an abstract name at the address length.
    const size_t len = offsetof(sockaddr_un, sun_path) + name.size() + (name[0] ? 1 : 0);
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr *>(&self), static_cast<socklen_t>(len)), 0);
    EXPECT_EQ(RequestFrom(fd), "8/180") << Log();  // a session state comes first
    close(fd);
  }
}

TEST_F(Yrkd, AnUnboundSenderGetsNoAnswer) {
  ASSERT_EQ(Start(""), 0);
  // A kind-6 request without payload, each datagram from another unbound
  // socket; the daemon serves it before the issuer's request.
  SendRaw(std::string("\x06\0\0\0\0\0\0\0", 8));
  SendRaw("");
  EXPECT_EQ(Put(6), 0);
  const std::string log_text = Log();
  EXPECT_NE(log_text.find("request kind=6 length=0"), std::string::npos) << log_text;
  EXPECT_NE(log_text.find("skipped the answer: kind 6 came from an unbound socket"),
            std::string::npos)
      << log_text;
  EXPECT_EQ(log_text.find("send to"), std::string::npos) << log_text;
}

TEST_F(Yrkd, BadScriptStopsItAtOnce) {
  EXPECT_EQ(Start("1: bogus\n"), 1);
  EXPECT_NE(Log().find("line 1: unknown step: bogus"), std::string::npos) << Log();
  EXPECT_FALSE(fs::exists(daemon));
}

TEST_F(Yrkd, EachRequestWritesOneEventWithItsUser) {
  ASSERT_EQ(Start(""), 0);
  const std::string password = "Tajna-Пароль-42";
  EXPECT_EQ(PutPayload(RequestKind::kConnect, ConnectPayload(0x0a000001, password, "alice")), 0);
  EXPECT_EQ(PutPayload(RequestKind::kDisconnect, ConnectPayload(0x0a000001, "", "alice")), 0);
  EXPECT_EQ(PutPayload(RequestKind::kStatistics, RecordPayload(0)), 0);
  EXPECT_EQ(PutPayload(RequestKind::kParameters, RecordPayload(0)), 0);
  EXPECT_EQ(PutPayload(RequestKind::kLog, LogPayload(1, "alice", "Ошибка обмена ключами")), 0);
  EXPECT_EQ(PutPayload(RequestKind::kLog, LogPayload(9, "", "clamped")), 0);

  const auto lines = Events();
  EXPECT_EQ(lines.size(), 6u) << Lines(lines);
  EXPECT_TRUE(Has(lines, "INFO", "10.0.0.1", "alice", "Запрос на подключение")) << Lines(lines);
  EXPECT_TRUE(Has(lines, "INFO", "10.0.0.1", "alice", "Запрос на отключение")) << Lines(lines);
  EXPECT_TRUE(Has(lines, "DEBUG", "*.*.*.*", "root", "Запрос статистики")) << Lines(lines);
  EXPECT_TRUE(Has(lines, "INFO", "*.*.*.*", "root", "Параметры соединения обновлены")) << Lines(lines);
  EXPECT_TRUE(Has(lines, "ERROR", "*.*.*.*", "alice", "Ошибка обмена ключами")) << Lines(lines);
  EXPECT_TRUE(Has(lines, "DEBUG", "*.*.*.*", "system", "clamped")) << Lines(lines);
  EXPECT_NE(Log().find("event INFO | 10.0.0.1 | alice | Запрос на подключение"), std::string::npos)
      << Log();

  // The password is in neither the log nor the daemon's output, as text or
  // in hexadecimal.
  std::string hex;
  for (unsigned char c : password) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", c);
    hex += two;
  }
  for (const std::string &text : {ReadFile(events), Log()}) {
    EXPECT_EQ(text.find(password), std::string::npos);
    EXPECT_EQ(text.find("Tajna"), std::string::npos);
    EXPECT_EQ(text.find(hex.substr(0, 10)), std::string::npos);
  }
  EXPECT_NE(Log().find("request kind=1 length=178"), std::string::npos) << Log();
}

TEST_F(Yrkd, AnOrdinaryUserWritesEventsOnlyInTheirOwnName) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ASSERT_EQ(Start(""), 0);
  // The unprivileged client binds its socket in a directory of its own.
  const std::string own = dir + "/nobody";
  ASSERT_EQ(mkdir(own.c_str(), 0700), 0);
  ASSERT_EQ(chown(own.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0711), 0);
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    const int forged = PutPayload(RequestKind::kLog, LogPayload(2, "root", "forged"), own + "/c.soc");
    const int connect =
        PutPayload(RequestKind::kConnect, ConnectPayload(0x0a000002, "pw", "alice"), own + "/c.soc");
    _exit(forged == 0 && connect == 0 ? 0 : 1);
  }
  int status = -1;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << Log();
  const std::string nobody = UserName(65534);
  const auto lines = Events();
  EXPECT_TRUE(Has(lines, "FATAL", "*.*.*.*", nobody, "forged")) << Lines(lines);
  EXPECT_TRUE(Has(lines, "INFO", "10.0.0.2", nobody, "Запрос на подключение")) << Lines(lines);
  EXPECT_EQ(Lines(lines).find("| root |"), std::string::npos) << Lines(lines);
  EXPECT_EQ(Lines(lines).find("| alice |"), std::string::npos) << Lines(lines);
}

TEST_F(Yrkd, MalformedPayloadsAndUnknownKindsAreLoggedAsErrors) {
  ASSERT_EQ(Start(""), 0);
  EXPECT_EQ(PutPayload(RequestKind::kLog, {1, 0, 0, 0, 'x'}), 0);
  std::vector<uint8_t> unterminated = LogPayload(0, "u", "text");
  unterminated.pop_back();
  EXPECT_EQ(PutPayload(RequestKind::kLog, unterminated), 0);
  EXPECT_EQ(PutPayload(RequestKind::kConnect, std::vector<uint8_t>(50, 0xff)), 0);
  EXPECT_EQ(PutPayload(9, {}), 0);
  EXPECT_EQ(Put(6), 0);  // still serving
  const auto lines = Events();
  ASSERT_EQ(lines.size(), 5u) << Lines(lines);
  EXPECT_TRUE(Has(lines, "ERROR", "*.*.*.*", "root", "Искажённый запрос: вид 7")) << Lines(lines);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string &line) { return line.ends_with("вид 7"); }),
            2);
  EXPECT_TRUE(Has(lines, "ERROR", "*.*.*.*", "root", "Искажённый запрос: вид 1")) << Lines(lines);
  EXPECT_TRUE(Has(lines, "ERROR", "*.*.*.*", "root", "Неизвестный запрос: вид 9")) << Lines(lines);
  EXPECT_TRUE(Has(lines, "INFO", "*.*.*.*", "root", "Параметры соединения обновлены"));
}

TEST_F(Yrkd, RunsWithoutALogItCannotOpen) {
  events = dir + "/no/such/dir/yrk.log";
  ASSERT_EQ(Start(""), 0);
  EXPECT_EQ(Put(6), 0);
  EXPECT_NE(Log().find("event log " + events + " cannot be opened"), std::string::npos) << Log();
  EXPECT_NE(Log().find("event INFO"), std::string::npos) << Log();
}

}  // namespace
