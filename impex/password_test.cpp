#include "impex/password.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace {

// A pipe holding `text`, its write end closed; the read end.
int PipeWith(const std::string &text) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  EXPECT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fds[1]);
  return fds[0];
}

TEST(Password, ReadsOneLineAndLeavesTheRest) {
  const int fd = PipeWith("s3cret pass\r\nnext line\n");
  const auto password = Password::FromDescriptor(fd);
  ASSERT_TRUE(password);
  EXPECT_EQ(password->Text(), "s3cret pass");
  char rest[16] = {};
  EXPECT_EQ(read(fd, rest, sizeof rest - 1), 10);
  EXPECT_STREQ(rest, "next line\n");
  close(fd);
}

TEST(Password, EndOfInputEndsTheLineAndLongInputIsCut) {
  int fd = PipeWith("no newline");
  EXPECT_EQ(Password::FromDescriptor(fd)->Text(), "no newline");
  close(fd);
  fd = PipeWith(std::string(Password::kMaxRead + 10, 'p'));
  EXPECT_EQ(Password::FromDescriptor(fd)->Text().size(), Password::kMaxRead);
  close(fd);
  EXPECT_FALSE(Password::FromDescriptor(-1));
}

}  // namespace
