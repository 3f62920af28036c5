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

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "channel/cmd_issuer.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using UserInterface::CmdIssuer;

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
    std::vector<std::string> args{YRKD_PATH, "-s", script, "-S", daemon, "-m", semaphore};
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

  std::string dir, daemon, client, log, semaphore;
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
    EXPECT_EQ(RequestFrom(fd), "7/4") << Log();
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

}  // namespace
