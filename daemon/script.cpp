#include "daemon/script.h"

#include <charconv>
#include <map>
#include <cstring>
#include <stdexcept>
#include <string>

#include "channel/message_kinds.h"
#include "channel/session_state.h"

namespace {

constexpr size_t kStateSize = sizeof(_session_state);

// The words of one step; a quoted word keeps its blanks and semicolons.
struct Words {
  std::vector<std::string> list;
  std::vector<bool> quoted;
};

class LineReader {
 public:
  explicit LineReader(const std::string &text) : text(text) {}

  // Splits the rest of the line into steps at unquoted semicolons.
  std::vector<Words> Steps() {
    std::vector<Words> steps(1);
    while (pos < text.size()) {
      const char c = text[pos];
      if (c == ';') {
        ++pos;
        steps.emplace_back();
      } else if (c == ' ' || c == '\t' || c == '\r') {
        ++pos;
      } else if (c == '"') {
        steps.back().list.push_back(Quoted());
        steps.back().quoted.push_back(true);
      } else {
        const size_t end = text.find_first_of(" \t\r;\"", pos);
        steps.back().list.push_back(text.substr(pos, end - pos));
        steps.back().quoted.push_back(false);
        pos = end == std::string::npos ? text.size() : end;
      }
    }
    return steps;
  }

 private:
  std::string Quoted() {
    std::string out;
    for (++pos; pos < text.size(); ++pos) {
      char c = text[pos];
      if (c == '"') {
        ++pos;
        return out;
      }
      if (c == '\\' && pos + 1 < text.size()) {
        c = text[++pos];
        if (c == 'n') c = '\n';
      }
      out.push_back(c);
    }
    throw std::runtime_error("unterminated quote");
  }

  const std::string &text;
  size_t pos = 0;
};

int Number(const std::string &word) {
  int value = 0;
  const char *end = word.data() + word.size();
  const auto [ptr, ec] = std::from_chars(word.data(), end, value);
  if (ec != std::errc() || ptr != end) throw std::runtime_error("not a number: " + word);
  return value;
}

std::vector<uint8_t> Hex(const std::string &word) {
  if (word.size() % 2 != 0) throw std::runtime_error("odd number of hex digits");
  std::vector<uint8_t> out;
  for (size_t i = 0; i < word.size(); i += 2) {
    uint8_t byte = 0;
    const char *end = word.data() + i + 2;
    const auto [ptr, ec] = std::from_chars(word.data() + i, end, byte, 16);
    if (ec != std::errc() || ptr != end) throw std::runtime_error("not hex: " + word);
    out.push_back(byte);
  }
  return out;
}

Step Message(int kind, std::vector<uint8_t> payload) {
  return Step{Step::Type::kMessage, kind, std::move(payload), 0};
}

Step ParseStep(const Words &words) {
  const auto &w = words.list;
  auto need = [&](size_t count) {
    if (w.size() != count) throw std::runtime_error("wrong number of words for " + w[0]);
  };
  if (w[0] == "text") {
    need(3);
    std::vector<uint8_t> payload(w[2].begin(), w[2].end());
    payload.push_back(0);
    return Message(Number(w[1]), std::move(payload));
  }
  if (w[0] == "int") {
    need(3);
    const int32_t value = Number(w[2]);
    std::vector<uint8_t> payload(sizeof value);
    std::memcpy(payload.data(), &value, sizeof value);
    return Message(Number(w[1]), std::move(payload));
  }
  if (w[0] == "state") {
    need(2);
    const int fill = Number(w[1]);
    if (fill < 0 || fill > 255) throw std::runtime_error("state byte out of range");
    return Message(AnswerKind::kState, std::vector<uint8_t>(kStateSize, static_cast<uint8_t>(fill)));
  }
  if (w[0] == "hex") {
    need(3);
    return Message(Number(w[1]), Hex(w[2]));
  }
  if (w[0] == "raw") {
    need(2);
    return Step{Step::Type::kRaw, 0, Hex(w[1]), 0};
  }
  if (w[0] == "sleep") {
    need(2);
    const int delay = Number(w[1]);
    if (delay < 0) throw std::runtime_error("negative delay");
    return Step{Step::Type::kSleep, 0, {}, delay};
  }
  throw std::runtime_error("unknown step: " + w[0]);
}

std::vector<Step> ParseSteps(const std::string &rest) {
  std::vector<Words> steps = LineReader(rest).Steps();
  if (steps.size() == 1 && steps[0].list.size() == 1 && steps[0].list[0] == "silent" &&
      !steps[0].quoted[0])
    return {};
  std::vector<Step> out;
  for (const Words &words : steps) {
    if (words.list.empty()) throw std::runtime_error("empty step");
    if (words.quoted[0]) throw std::runtime_error("a step starts with a quoted word");
    out.push_back(ParseStep(words));
  }
  return out;
}

}  // namespace

Script Script::Parse(std::istream &in) {
  Script script;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    try {
      const size_t colon = line.find(':');
      if (colon == std::string::npos) throw std::runtime_error("no ':' after the kind");
      std::string kind = line.substr(first, colon - first);
      kind.erase(kind.find_last_not_of(" \t") + 1);
      std::vector<Step> steps = ParseSteps(line.substr(colon + 1));
      if (kind == "*" && !script.fallback) script.fallback.emplace();
      std::vector<Step> &rule = kind == "*" ? *script.fallback : script.rules[Number(kind)];
      rule.insert(rule.end(), steps.begin(), steps.end());
    } catch (const std::runtime_error &e) {
      throw std::runtime_error("line " + std::to_string(number) + ": " + e.what());
    }
  }
  return script;
}

namespace {

Step Text(int kind, const std::string &text) {
  std::vector<uint8_t> payload(text.begin(), text.end());
  payload.push_back(0);
  return Message(kind, std::move(payload));
}

// A session that is up, with no traffic yet: the stand-in knows no more.
Step ConnectedState() {
  _session_state state{};
  state.status = kSessionUp;
  std::strcpy(state.account, "stand-in");
  const auto *bytes = reinterpret_cast<const uint8_t *>(&state);
  return Message(AnswerKind::kState, std::vector<uint8_t>(bytes, bytes + sizeof state));
}

// What a real daemon says to a connect, a disconnect and a statistics
// request that succeed; any other kind gets the value 0.
const std::vector<Step> &Default(int kind) {
  static const std::map<int, std::vector<Step>> kAnswers{
      {RequestKind::kConnect,
       {Text(AnswerKind::kText, "Подключение..."), ConnectedState(),
        Text(AnswerKind::kEnd, "Соединение установлено")}},
      {RequestKind::kDisconnect, {Text(AnswerKind::kEnd, "Соединение разорвано")}},
      {RequestKind::kStatistics, {ConnectedState(), Message(AnswerKind::kValue, {0, 0, 0, 0})}},
  };
  static const std::vector<Step> kValueZero{Message(AnswerKind::kValue, {0, 0, 0, 0})};
  const auto found = kAnswers.find(kind);
  return found != kAnswers.end() ? found->second : kValueZero;
}

}  // namespace

const std::vector<Step> &Script::Answer(int kind) const {
  if (const auto rule = rules.find(kind); rule != rules.end()) return rule->second;
  return fallback ? *fallback : Default(kind);
}
