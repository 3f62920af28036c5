#include "ui/held_semaphore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

namespace UserInterface {
namespace {

class HeldSemaphoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sem_unlink(name.c_str());
    sem = sem_open(name.c_str(), O_CREAT | O_EXCL, 0600, 1);
    ASSERT_NE(sem, SEM_FAILED);
  }
  void TearDown() override {
    sem_close(sem);
    sem_unlink(name.c_str());
  }
  int Value() {
    int value = -1;
    sem_getvalue(sem, &value);
    return value;
  }
  // Runs `body` in a child process that holds the semaphore; returns its
  // wait status.
  template <typename Body>
  int InChildHolding(Body body) {
    const pid_t child = fork();
    if (child == 0) {
      const rlimit no_core{0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
      {
        HeldSemaphore hold(sem, 1);
        if (!hold.held()) _exit(3);
        body();
      }
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
  }

  std::string name = "/yrk_held_test_" + std::to_string(getpid());
  sem_t *sem = nullptr;
};

TEST_F(HeldSemaphoreTest, EndingSignalsGiveItBackAndStillEndTheProcess) {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    const int status = InChildHolding([&] {
      raise(signal_number);
      _exit(4);  // not reached: the signal ends the process
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << signal_number;
    EXPECT_EQ(Value(), 1) << signal_number;
  }
}

TEST_F(HeldSemaphoreTest, IgnoredSignalLeavesItHeldUntilTheCommandEnds) {
  signal(SIGHUP, SIG_IGN);
  const int status = InChildHolding([&] {
    raise(SIGHUP);
    int value = -1;
    sem_getvalue(sem, &value);
    if (value != 0) _exit(5);
  });
  signal(SIGHUP, SIG_DFL);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(Value(), 1);
}

TEST_F(HeldSemaphoreTest, ReleasedOnceAndSignalsGivenBack) {
  {
    HeldSemaphore hold(sem, 1);
    ASSERT_TRUE(hold.held());
    EXPECT_EQ(Value(), 0);
    HeldSemaphore second(sem, 1);  // a second second of waiting, then busy
    EXPECT_FALSE(second.held());
  }
  EXPECT_EQ(Value(), 1);
  struct sigaction now {};
  sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

}  // namespace
}  // namespace UserInterface
