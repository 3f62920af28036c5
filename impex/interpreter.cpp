#include "impex/interpreter.h"

#include <stdexcept>

#include "config/personals.h"

namespace {

constexpr int kUnknownUser = -1001;

struct CommandRow {
  int32_t action;
  int32_t kind;
  int command;
};

constexpr CommandRow kCommands[] = {
    {Parser::Add, Parser::Account, 6},     {Parser::Add, Parser::Cert, 9},
    {Parser::Add, Parser::Parameters, 12}, {Parser::Add, Parser::Server, 15},
    {Parser::Del, Parser::Account, 7},     {Parser::Del, Parser::Cert, 10},
    {Parser::Del, Parser::Server, 16},     {Parser::Modify, Parser::Account, 8},
    {Parser::Modify, Parser::Parameters, 12},
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
    if (!SelectUser(record)) return kUnknownUser;
    const int command = CommandFor(record.action, record.kind);
    if (command < 0) throw std::runtime_error("interpretator error");
    const int code = SendCommand(command, bag);
    if (code < 0) result = code;
  }
  return result;
}
