// Applies an import/export file through the command layer.
#pragma once

#include <string>

#include "impex/parser.h"
#include "ui/ui.h"

class Interpreter : public UserInterface::UI {
 public:
  // Throws std::runtime_error when the command semaphore cannot be opened.
  explicit Interpreter(const std::string &path);
  ~Interpreter() override;

  // 0 when every command succeeded, else the last failing command's code, or
  // ResultCode::kUnknownUser for a user unknown to the system (which stops
  // the run). Throws for a record that maps to no command and passes the
  // parser's exceptions on.
  int Run();
  // Why the last Run read no document from the file (Parser::ReadFailure);
  // empty when it read one.
  const std::string &ReadFailure() const { return read_failure; }

  // The command number (ui/commands.h) for an (action, kind) pair, or -1
  // when there is none.
  static int CommandFor(int32_t action, int32_t kind);

 private:
  // Switches the current user to the record's last non-empty PARAM_USER;
  // false when the system does not know that user.
  bool SelectUser(const Parser::_Record &record);

  std::string path;
  std::string read_failure;
};
