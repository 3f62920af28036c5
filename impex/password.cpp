#include "impex/password.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

void Wipe(std::string &text) {
  explicit_bzero(text.data(), text.size());
  text.clear();
}

}  // namespace

Password::Password(Password &&other) noexcept : text(std::move(other.text)) { Wipe(other.text); }

Password::~Password() { Wipe(text); }

// Byte by byte, so that nothing after the line is taken from a shared
// descriptor; the string keeps its room, so no copy is left behind.
bool Password::ReadLine(int fd, std::string &out) {
  out.reserve(kMaxRead);
  while (out.size() < kMaxRead) {
    char c;
    const ssize_t got = read(fd, &c, 1);
    if (got < 0) {
      Wipe(out);
      return false;
    }
    if (got == 0 || c == '\n') break;
    out.push_back(c);
  }
  if (!out.empty() && out.back() == '\r') out.pop_back();
  return true;
}

std::optional<Password> Password::FromDescriptor(int fd) {
  std::string line;
  if (!ReadLine(fd, line)) return std::nullopt;
  return Password(std::move(line));
}

std::optional<Password> Password::FromTerminal(const std::string &prompt) {
  const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return std::nullopt;
  termios saved;
  if (tcgetattr(tty, &saved) != 0) {
    close(tty);
    return std::nullopt;
  }
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  std::optional<Password> password;
  if (write(tty, prompt.data(), prompt.size()) >= 0 && tcsetattr(tty, TCSAFLUSH, &quiet) == 0) {
    std::string line;
    // An interrupted read (the user pressed Ctrl-C) gives nothing.
    if (ReadLine(tty, line)) password.emplace(Password(std::move(line)));
    tcsetattr(tty, TCSAFLUSH, &saved);
  }
  close(tty);
  return password;
}
