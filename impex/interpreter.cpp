#include "impex/interpreter.h"

#include <stdexcept>

#include "config/personals.h"
#include "impex/result_codes.h"
#include "ui/commands.h"

namespace {

namespace Command = UserInterface::Command;

struct CommandRow {
  int32_t action;
  int32_t kind;
  int command;
};

constexpr CommandRow kCommands[] = {
    {Parser::Add, Parser::Account, Command::kAddAccount},
    {Parser::Add, Parser::Cert, Command::kAddCert},
    {Parser::Add, Parser::Parameters, Command::kSetParams},
    {Parser::Add, Parser::Server, Command::kAddServer},
    {Parser::Del, Parser::Account, Command::kDelAccount},
    {Parser::Del, Parser::Cert, Command::kDelCert},
    {Parser::Del, Parser::Server, Command::kDelServer},
    {Parser::Modify, Parser::Account, Command::kModifyAccount},
    {Parser::Modify, Parser::Parameters, Command::kSetParams},
};

}  // namespace

Interpreter::Interpreter(const std::string &path) : path(path) {}

Interpreter::~Interpreter() = default;

int Interpreter::CommandFor(int32_t action, int32_t kind) {
  for (const CommandRow &row : kCommands)
    if (row.action == action && row.kind == kind) return row.command;
  return -1;
}

bool Interpreter::SelectUser(const Parser::_Record &record) {
  const std::string *named = nullptr;
  for (const auto &param : record.strings)
    if (param.type == UserInterface::PARAM_USER) named = &param.value;
  if (!named || named->empty()) return true;
  Personals user(*named);
  if (user.Username().empty()) return false;
  SetCurrentUser(user.Username());
  return true;
}

int Interpreter::Run() {
  Parser parser;
  const std::list<Parser::_Record> records = parser.Parse(path).Records();
  read_failure = parser.ReadFailure();
  int result = 0;
  for (const Parser::_Record &record : records) {
    ParameterBag bag;
    bag.strings = record.strings;
    bag.digitals = record.digitals;
    if (!SelectUser(record)) return ResultCode::kUnknownUser;
    const int command = CommandFor(record.action, record.kind);
    if (command < 0) throw std::runtime_error("interpretator error");
    const int code = SendCommand(command, bag);
    if (code < 0) result = code;
  }
  return result;
}
