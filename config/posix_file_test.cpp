#include "config/posix_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "config/test_dir.h"

using PosixFile::UniqueFd;

namespace {

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

// A pipe whose ends close with the test.
struct Pipe {
  Pipe() {
    int fds[2];
    EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    in = UniqueFd(fds[0]);
    out = UniqueFd(fds[1]);
  }
  UniqueFd in, out;
};

}  // namespace

TEST(PosixFile, UniqueFdClosesOnceAndKeepsErrno) {
  int raw;
  {
    UniqueFd fd(open("/dev/null", O_RDONLY | O_CLOEXEC));
    raw = fd.get();
    ASSERT_TRUE(fd.ok());
    errno = ENOSPC;  // as left by a failed call the caller still reports
  }
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_FALSE(IsOpen(raw));

  UniqueFd empty;
  EXPECT_FALSE(empty.ok());
  EXPECT_FALSE(empty.Close());

  UniqueFd first(open("/dev/null", O_RDONLY | O_CLOEXEC));
  raw = first.get();
  UniqueFd second(std::move(first));
  EXPECT_FALSE(first.ok());
  EXPECT_EQ(second.get(), raw);
  UniqueFd third(open("/dev/null", O_RDONLY | O_CLOEXEC));
  const int replaced = third.get();
  third = std::move(second);  // the descriptor it held is closed
  EXPECT_FALSE(IsOpen(replaced));
  EXPECT_EQ(third.get(), raw);
  EXPECT_TRUE(third.Close());
  EXPECT_FALSE(third.ok());
  EXPECT_FALSE(IsOpen(raw));
  EXPECT_FALSE(third.Close());

  UniqueFd handed(open("/dev/null", O_RDONLY | O_CLOEXEC));
  raw = handed.release();
  EXPECT_FALSE(handed.ok());
  EXPECT_TRUE(IsOpen(raw));
  close(raw);
}

TEST(PosixFile, ReadFullyWantsEveryByte) {
  TestDir dir;
  WriteFile(dir / "f", "0123456789");
  UniqueFd fd(open((dir / "f").c_str(), O_RDONLY | O_CLOEXEC));
  char buf[16] = {};
  EXPECT_TRUE(PosixFile::ReadFully(fd.get(), buf, 0));
  EXPECT_TRUE(PosixFile::ReadFully(fd.get(), buf, 4));
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_FALSE(PosixFile::ReadFully(fd.get(), buf, 7));  // six bytes are left
  EXPECT_FALSE(PosixFile::ReadFully(-1, buf, 1));
  EXPECT_EQ(errno, EBADF);
}

TEST(PosixFile, WriteAllWritesEverything) {
  TestDir dir;
  UniqueFd fd(open((dir / "f").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  EXPECT_TRUE(PosixFile::WriteAll(fd.get(), std::string_view("")));
  EXPECT_TRUE(PosixFile::WriteAll(fd.get(), std::string_view("abc")));
  EXPECT_TRUE(PosixFile::WriteAll(fd.get(), "de", 2));
  EXPECT_TRUE(fd.Close());
  EXPECT_EQ(ReadFile(dir / "f"), "abcde");

  UniqueFd read_only(open((dir / "f").c_str(), O_RDONLY | O_CLOEXEC));
  EXPECT_FALSE(PosixFile::WriteAll(read_only.get(), std::string_view("x")));
  EXPECT_EQ(errno, EBADF);
}

// Signals that arrive while a pipe is full interrupt the calls (no
// SA_RESTART): the loops resume until every byte has gone through.
TEST(PosixFile, PipeTransfersSurviveSignals) {
  struct sigaction action {}, saved {};
  action.sa_handler = [](int) {};
  ASSERT_EQ(sigaction(SIGALRM, &action, &saved), 0);
  itimerval every{{0, 1000}, {0, 1000}}, off{}, old{};
  ASSERT_EQ(setitimer(ITIMER_REAL, &every, &old), 0);

  Pipe line;
  const std::string sent = std::string(1 << 20, 'x') + "end";
  std::string got(sent.size(), '\0');
  bool read_ok = false;
  std::thread reader([&] {
    usleep(20000);  // let the pipe fill and the writer block
    read_ok = PosixFile::ReadFully(line.in.get(), got.data(), got.size());
  });
  const bool write_ok = PosixFile::WriteAll(line.out.get(), sent);
  reader.join();
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &saved, nullptr);

  EXPECT_TRUE(write_ok);
  EXPECT_TRUE(read_ok);
  EXPECT_TRUE(got == sent);
  // The writer gone, a read for more ends early instead of waiting.
  line.out.Close();
  char byte;
  EXPECT_FALSE(PosixFile::ReadFully(line.in.get(), &byte, 1));
}

TEST(PosixFile, DirectoryAndBase) {
  EXPECT_EQ(PosixFile::DirectoryOf("name"), ".");
  EXPECT_EQ(PosixFile::DirectoryOf("/name"), "/");
  EXPECT_EQ(PosixFile::DirectoryOf("/etc/resolv.conf"), "/etc");
  EXPECT_EQ(PosixFile::DirectoryOf("dir/name"), "dir");
  EXPECT_EQ(PosixFile::DirectoryOf("dir/"), "dir");
  EXPECT_EQ(PosixFile::BaseOf("name"), "name");
  EXPECT_EQ(PosixFile::BaseOf("/name"), "name");
  EXPECT_EQ(PosixFile::BaseOf("/etc/resolv.conf"), "resolv.conf");
  EXPECT_EQ(PosixFile::BaseOf("dir/"), "");
}
