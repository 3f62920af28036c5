// yrkctl: connects and disconnects accounts, shows sessions and the event
// log, verifies user certificates and checks the installed files, through
// the same command layer and semaphore as impex.
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/event_log.h"
#include "impex/front_end.h"
#include "impex/msg_compiler.h"
#include "impex/password.h"
#include "impex/result_codes.h"
#include "impex/session_report.h"
#include "integrity/yrk_integrity_control.h"
#include "ui/commands.h"

namespace {

using UserInterface::_StringParameter;
using UserInterface::UI;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// What a sub-command needs from the command line before it runs.
struct Invocation {
  std::string user;  // -u: act for this user
  std::vector<char *> args;  // the sub-command's name, then its arguments
};

struct SubCommand {
  const char *name;
  const char *synopsis;
  const char *summary;
  const char *help;  // options and details
  std::function<int(const Invocation &)> run;
};

const std::vector<SubCommand> &SubCommands();

// The result's message on standard error; the exit status for it.
int Report(int result) {
  if (result >= 0) return EXIT_SUCCESS;
  std::string message = MsgCompiler::HandleError(result);
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  std::cerr << message << std::endl;
  // The busy code has no text of its own.
  if (result == ResultCode::kSemaphoreBusy)
    std::cerr << "yrkctl: another command holds " << Paths::kSemaphore << "; try again" << std::endl;
  return kExitFailure;
}

int UsageError(const SubCommand &command, const std::string &problem) {
  std::cerr << "yrkctl " << command.name << ": " << problem << "\n"
            << "usage: yrkctl " << command.name << " " << command.synopsis << "\n"
            << "Try 'yrkctl " << command.name << " --help'." << std::endl;
  return kExitUsage;
}

void PrintHelp(const SubCommand &command) {
  std::cout << "usage: yrkctl [-u USER] " << command.name << " " << command.synopsis << "\n\n"
            << command.summary << ".\n\n" << command.help;
}

// The command layer for the chosen user; nothing (and the reason printed)
// when no daemon runs or the user cannot be chosen.
std::unique_ptr<FrontEnd> OpenFrontEnd(const Invocation &invocation, int &status) {
  std::unique_ptr<FrontEnd> front_end;
  try {
    front_end = std::make_unique<FrontEnd>();
  } catch (const std::exception &) {
    std::cerr << "yrkctl: the connection daemon is not running (no semaphore "
              << Paths::kSemaphore << ")" << std::endl;
    status = kExitFailure;
    return nullptr;
  }
  if (!invocation.user.empty()) {
    if (const int chosen = front_end->ActFor(invocation.user); chosen < 0) {
      status = Report(chosen);
      return nullptr;
    }
  }
  return front_end;
}

// Parses the sub-command's options with getopt_long; `on_option` takes each
// one and returns false to stop with a usage error. The operands, or nothing
// after printing help or a usage error (the status then says which).
std::optional<std::vector<std::string>> ParseOptions(
    const SubCommand &command, const Invocation &invocation, const std::vector<option> &options,
    const std::function<bool(int, const char *)> &on_option, int &status) {
  std::vector<option> all = options;
  all.push_back({"help", no_argument, nullptr, 'h'});
  all.push_back({nullptr, 0, nullptr, 0});
  std::vector<char *> argv = invocation.args;
  argv.push_back(nullptr);
  const int argc = static_cast<int>(invocation.args.size());
  optind = 0;  // glibc: start a new scan
  opterr = 0;
  // Options may follow operands, as with most tools.
  for (int opt; (opt = getopt_long(argc, argv.data(), "h", all.data(), nullptr)) != -1;) {
    if (opt == 'h') {
      PrintHelp(command);
      status = EXIT_SUCCESS;
      return std::nullopt;
    }
    if (opt == '?' || opt == ':' || !on_option(opt, optarg)) {
      const std::string bad = argv[optind - 1] ? argv[optind - 1] : "";
      status = UsageError(command, "bad option or value: " + bad);
      return std::nullopt;
    }
  }
  return std::vector<std::string>(argv.begin() + optind, argv.begin() + argc);
}

// A sub-command that takes no option but --help.
std::optional<std::vector<std::string>> ParseOperands(const SubCommand &command,
                                                      const Invocation &invocation, int &status) {
  return ParseOptions(command, invocation, {}, [](int, const char *) { return false; }, status);
}

// Ctrl-C while a connect is pending withdraws it (the daemon is sent a
// disconnect); the command then ends as the daemon answers. The flag keeps
// a Ctrl-C that came before the request went out, which the issuer forgets.
std::atomic<FrontEnd *> cancellable{nullptr};
volatile std::sig_atomic_t interrupted = 0;

void CancelPendingConnect(int) {
  interrupted = 1;
  if (FrontEnd *front_end = cancellable.load()) front_end->Cancel();
}

class CancelOnInterrupt {
 public:
  explicit CancelOnInterrupt(FrontEnd &front_end) {
    cancellable = &front_end;
    struct sigaction action {};
    action.sa_handler = CancelPendingConnect;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous);
  }
  ~CancelOnInterrupt() {
    sigaction(SIGINT, &previous, nullptr);
    cancellable = nullptr;
  }
  CancelOnInterrupt(const CancelOnInterrupt &) = delete;
  CancelOnInterrupt &operator=(const CancelOnInterrupt &) = delete;

 private:
  struct sigaction previous {};
};

// Digits of the base only: no sign, blank or "0x" that strtol would take.
std::optional<int> ParseNumber(const char *text, int base) {
  if (!*text) return std::nullopt;
  for (const char *p = text; *p; ++p)
    if (base == 16 ? !std::isxdigit(static_cast<unsigned char>(*p)) : !std::isdigit(static_cast<unsigned char>(*p)))
      return std::nullopt;
  errno = 0;
  const long value = std::strtol(text, nullptr, base);
  if (errno || value > INT_MAX) return std::nullopt;
  return static_cast<int>(value);
}

int Connect(const SubCommand &command, const Invocation &invocation) {
  std::optional<int> password_fd;
  int status = EXIT_SUCCESS;
  const auto operands = ParseOptions(
      command, invocation, {{"password-fd", required_argument, nullptr, 'p'}},
      [&](int, const char *value) { return (password_fd = ParseNumber(value, 10)).has_value(); },
      status);
  if (!operands) return status;
  if (operands->size() > 1) return UsageError(command, "one account at most");

  std::unique_ptr<FrontEnd> front_end = OpenFrontEnd(invocation, status);
  if (!front_end) return status;
  const CancelOnInterrupt cancel(*front_end);
  const std::optional<Password> password =
      password_fd ? Password::FromDescriptor(*password_fd) : Password::FromTerminal("Пароль: ");
  if (interrupted) return kExitInterrupted;
  if (!password) {
    std::cerr << (password_fd ? "yrkctl connect: cannot read the password from descriptor " +
                                    std::to_string(*password_fd)
                              : "yrkctl connect: no terminal to read the password from; use "
                                "--password-fd")
              << std::endl;
    return password_fd ? kExitFailure : kExitUsage;
  }
  UI::ParameterBag bag;
  if (!operands->empty()) bag.strings.push_back({UserInterface::PARAM_NAME, operands->front()});
  bag.strings.push_back({UserInterface::PARAM_PASSWORD, password->Text()});
  const int result = front_end->SendCommand(UserInterface::Command::kConnect, bag);
  explicit_bzero(bag.strings.back().value.data(), bag.strings.back().value.size());
  if (!interrupted) return Report(result);
  // Withdrawn in flight, or interrupted before the request went out: then
  // what it connected is taken down again.
  if (!front_end->CancelRequested() && result >= 0) {
    UI::ParameterBag undo;
    if (!operands->empty()) undo.strings.push_back({UserInterface::PARAM_NAME, operands->front()});
    front_end->SendCommand(UserInterface::Command::kDisconnect, undo);
  }
  return kExitInterrupted;
}

int Disconnect(const SubCommand &command, const Invocation &invocation) {
  std::string server;
  bool server_given = false;
  int status = EXIT_SUCCESS;
  const auto operands = ParseOptions(
      command, invocation, {{"server", required_argument, nullptr, 's'}},
      [&](int, const char *value) {
        server = value;
        server_given = true;
        return true;
      },
      status);
  if (!operands) return status;
  if (operands->size() > 1 || (!operands->empty() && !server.empty()))
    return UsageError(command, "an account or a server, not both");
  // An empty value (an unset variable in a script) must not mean "all".
  if ((server_given && server.empty()) || (!operands->empty() && operands->front().empty()))
    return UsageError(command, "an empty account or server");

  std::unique_ptr<FrontEnd> front_end = OpenFrontEnd(invocation, status);
  if (!front_end) return status;
  UI::ParameterBag bag;
  if (!server.empty()) bag.strings.push_back({UserInterface::PARAM_SERVER, server});
  if (!operands->empty()) bag.strings.push_back({UserInterface::PARAM_NAME, operands->front()});
  return Report(front_end->SendCommand(UserInterface::Command::kDisconnect, bag));
}

int Stats(const SubCommand &command, const Invocation &invocation) {
  std::string server;
  bool json = false;
  int status = EXIT_SUCCESS;
  const auto operands = ParseOptions(
      command, invocation,
      {{"server", required_argument, nullptr, 's'}, {"json", no_argument, nullptr, 'j'}},
      [&](int opt, const char *value) {
        if (opt == 'j') json = true;
        if (opt == 's') server = value;
        return true;
      },
      status);
  if (!operands) return status;
  if (!operands->empty()) return UsageError(command, "unexpected argument " + operands->front());

  std::unique_ptr<FrontEnd> front_end = OpenFrontEnd(invocation, status);
  if (!front_end) return status;
  UI::ParameterBag bag;
  if (!server.empty()) bag.strings.push_back({UserInterface::PARAM_SERVER, server});
  const int result = front_end->SendCommand(UserInterface::Command::kStats, bag);
  if (result < 0) return Report(result);
  // The daemon's own verdict comes back as a value in the bag.
  int reported = 0;
  for (const UserInterface::_DigitalParameter &value : bag.digitals)
    if (value.type == UserInterface::PARAM_RESULT) reported = value.value;
  std::cout << (json ? SessionJson(bag.states, reported) : SessionTable(bag.states));
  return Report(reported);
}

int Events(const SubCommand &command, const Invocation &invocation) {
  UI::ParameterBag bag;
  int status = EXIT_SUCCESS;
  const auto operands = ParseOptions(
      command, invocation,
      {{"level", required_argument, nullptr, UserInterface::PARAM_LOG_LEVEL},
       {"user", required_argument, nullptr, UserInterface::PARAM_USER},
       {"from", required_argument, nullptr, UserInterface::PARAM_LOG_FROM},
       {"to", required_argument, nullptr, UserInterface::PARAM_LOG_TO}},
      [&](int opt, const char *value) {
        bag.strings.push_back({static_cast<UserInterface::ParameterType>(opt), value});
        return true;
      },
      status);
  if (!operands) return status;
  if (!operands->empty()) return UsageError(command, "unexpected argument " + operands->front());

  std::unique_ptr<FrontEnd> front_end = OpenFrontEnd(invocation, status);
  if (!front_end) return status;
  EventLog reader(false);
  gEventLog = &reader;
  // Collected first and printed after the command: a pager that waits for
  // the user must not keep the semaphore from everyone else.
  char *listing = nullptr;
  size_t listing_size = 0;
  FILE *collected = open_memstream(&listing, &listing_size);
  if (!collected) return Report(ResultCode::kSystemError);
  front_end->SetListingOutput(collected);
  const int result = front_end->SendCommand(UserInterface::Command::kEvents, bag);
  gEventLog = nullptr;
  std::fclose(collected);
  std::fwrite(listing, 1, listing_size, stdout);
  std::free(listing);
  std::fflush(stdout);
  return Report(result);
}

int Cert(const SubCommand &command, const Invocation &invocation) {
  int status = EXIT_SUCCESS;
  const auto operands = ParseOperands(command, invocation, status);
  if (!operands) return status;
  if (operands->size() != 2 || (*operands)[0] != "verify")
    return UsageError(command, "expected: verify NUMBER");
  // Entries are named by four hexadecimal digits, as accounts name them.
  const std::optional<int> number = ParseNumber((*operands)[1].c_str(), 16);
  if (!number) return UsageError(command, "not a certificate number: " + (*operands)[1]);

  std::unique_ptr<FrontEnd> front_end = OpenFrontEnd(invocation, status);
  if (!front_end) return status;
  const int result = front_end->VerifyUserCert(*number);
  if (result >= 0) std::cout << "Сертификат действителен" << std::endl;
  return Report(result);
}

int Integrity(const SubCommand &command, const Invocation &invocation) {
  int status = EXIT_SUCCESS;
  const auto operands = ParseOperands(command, invocation, status);
  if (!operands) return status;
  if (operands->size() != 1 || ((*operands)[0] != "check" && (*operands)[0] != "update"))
    return UsageError(command, "expected: check or update");
  // The reference lives in root's directory.
  if ((*operands)[0] == "update" && geteuid() != 0) return Report(ResultCode::kNeedRoot);
  try {
    YRKIntegrityControl control;
    if ((*operands)[0] == "update") {
      control.Compute();
      return EXIT_SUCCESS;
    }
    if (!control.Check()) return Report(ResultCode::kIntegrityViolated);
    std::cout << "Целостность файлов не нарушена" << std::endl;
    return EXIT_SUCCESS;
  } catch (const std::exception &e) {
    std::cerr << "yrkctl integrity: " << e.what() << std::endl;
    return Report(ResultCode::kIntegrityCheckFailed);
  }
}

int MainUsage(std::ostream &out) {
  out << "usage: yrkctl [-u USER] COMMAND [OPTIONS] [ARGUMENTS]\n\nCommands:\n";
  for (const SubCommand &command : SubCommands()) {
    const std::string head = std::string(command.name) + " " + command.synopsis;
    out << "  " << head << "\n      " << command.summary << "\n";
  }
  out << "\nOptions:\n"
         "  -u, --user USER  act for USER (root only)\n"
         "  -h, --help       this text; COMMAND --help tells more\n";
  return &out == &std::cout ? EXIT_SUCCESS : kExitUsage;
}

int Help(const SubCommand &command, const Invocation &invocation) {
  int status = EXIT_SUCCESS;
  const auto operands = ParseOperands(command, invocation, status);
  if (!operands) return status;
  if (operands->empty()) return MainUsage(std::cout);
  for (const SubCommand &known : SubCommands())
    if (operands->front() == known.name) {
      PrintHelp(known);
      return EXIT_SUCCESS;
    }
  return UsageError(command, "no such command: " + operands->front());
}

template <int (*Run)(const SubCommand &, const Invocation &)>
std::function<int(const Invocation &)> Bound(const char *name) {
  return [name](const Invocation &invocation) {
    for (const SubCommand &command : SubCommands())
      if (std::strcmp(command.name, name) == 0) return Run(command, invocation);
    return kExitUsage;
  };
}

const std::vector<SubCommand> &SubCommands() {
  static const std::vector<SubCommand> commands{
      {"connect", "[ACCOUNT] [--password-fd FD]",
       "Connect an account (the default account, or the only one, when none is named)",
       "The user certificate of the account is verified first. The password is read\n"
       "from the terminal without echo, or as one line from descriptor FD.\n"
       "Ctrl-C while connecting withdraws the request.\n\n"
       "  --password-fd FD  read the password from open descriptor FD\n",
       Bound<Connect>("connect")},
      {"disconnect", "[ACCOUNT | --server ADDRESS]",
       "Disconnect an account's session, the session with a server, or every session",
       "  --server ADDRESS  the access server's IPv4 address\n", Bound<Disconnect>("disconnect")},
      {"stats", "[--server ADDRESS] [--json]", "Show the sessions and their counters",
       "  --server ADDRESS  only the session with this server\n"
       "  --json            print JSON instead of a table\n",
       Bound<Stats>("stats")},
      {"events", "[--level LEVELS] [--user USER] [--from TIME] [--to TIME]",
       "List the event log, oldest first",
       "Users other than root see only their own events.\n\n"
       "  --level LEVELS  any of INFO, ERROR, FATAL, TRAFF, DEBUG (default: INFO,ERROR,FATAL)\n"
       "  --user USER     lines that name USER\n"
       "  --from TIME     not before TIME, written \"dd.mm.yyyy hh:mm:ss\"\n"
       "  --to TIME       not after TIME\n",
       Bound<Events>("events")},
      {"cert", "verify NUMBER", "Verify an entry of the user certificate store",
       "NUMBER is the entry's hexadecimal number, as an account's certificate names it.\n"
       "The chain is checked against the CA certificates and revocation lists.\n",
       Bound<Cert>("cert")},
      {"integrity", "check | update", "Check the installed files against their reference digest, or store a new one",
       "The files are those listed in /etc/yrk/filelist, one path a line; the reference\n"
       "digest is /etc/yrk/.csum. Only root can store a new reference.\n",
       Bound<Integrity>("integrity")},
      {"help", "[COMMAND]", "Show the commands, or one command's options", "", Bound<Help>("help")},
  };
  return commands;
}

}  // namespace

int main(int argc, char **argv) {
  Invocation invocation;
  static const option kOptions[] = {{"user", required_argument, nullptr, 'u'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  opterr = 0;
  for (int opt; (opt = getopt_long(argc, argv, "+u:h", kOptions, nullptr)) != -1;) {
    switch (opt) {
      case 'u': invocation.user = optarg; break;
      case 'h': return MainUsage(std::cout);
      default:
        std::cerr << "yrkctl: bad option " << argv[optind - 1] << "\n";
        return MainUsage(std::cerr);
    }
  }
  if (optind == argc) return MainUsage(std::cerr);
  invocation.args.assign(argv + optind, argv + argc);
  for (const SubCommand &command : SubCommands())
    if (invocation.args.front() == std::string(command.name)) {
      try {
        return command.run(invocation);
      } catch (const std::exception &) {
        return Report(ResultCode::kSystemError);
      }
    }
  std::cerr << "yrkctl: no such command: " << invocation.args.front() << "\n";
  return MainUsage(std::cerr);
}
