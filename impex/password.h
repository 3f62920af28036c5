// A password read for one connect request; its characters are wiped when it
// goes.
#pragma once

#include <optional>
#include <string>

class Password {
 public:
  // Longer input is cut here; the command layer refuses anything over 64.
  static constexpr size_t kMaxRead = 1024;

  // Prompts on the controlling terminal and reads one line with echo off;
  // nothing when there is no terminal or reading was interrupted (the
  // terminal's settings are restored either way).
  static std::optional<Password> FromTerminal(const std::string &prompt);
  // One line, or everything up to the end, from an open descriptor; nothing
  // when it cannot be read.
  static std::optional<Password> FromDescriptor(int fd);

  Password(Password &&other) noexcept;
  ~Password();
  Password(const Password &) = delete;
  Password &operator=(const Password &) = delete;
  Password &operator=(Password &&) = delete;

  const std::string &Text() const { return text; }

 private:
  explicit Password(std::string text) : text(std::move(text)) {}
  // Reads bytes up to a newline, the end or kMaxRead; false on a read error.
  static bool ReadLine(int fd, std::string &out);

  std::string text;
};
