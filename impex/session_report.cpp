#include "impex/session_report.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::string Dotted(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xff,
                (address >> 8) & 0xff, address & 0xff);
  return text;
}

std::string Endpoint(uint32_t address, uint16_t port) {
  if (address == 0) return "-";
  return port ? Dotted(address) + ":" + std::to_string(port) : Dotted(address);
}

// The account name up to its NUL, never past the field.
std::string AccountName(const _session_state &state) {
  return std::string(state.account, strnlen(state.account, sizeof state.account));
}

const char *StatusText(int32_t status) {
  switch (status) {
    case kSessionDown: return "разорвано";
    case kSessionConnecting: return "подключение";
    case kSessionUp: return "установлено";
    case kSessionDisconnecting: return "отключение";
    default: return "неизвестно";
  }
}

const char *StatusName(int32_t status) {
  switch (status) {
    case kSessionDown: return "down";
    case kSessionConnecting: return "connecting";
    case kSessionUp: return "up";
    case kSessionDisconnecting: return "disconnecting";
    default: return "unknown";
  }
}

std::string Duration(uint32_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

// Characters of UTF-8 text: bytes that do not continue a sequence.
size_t Width(const std::string &text) {
  size_t width = 0;
  for (unsigned char c : text) width += (c & 0xC0) != 0x80;
  return width;
}

// Bytes of the well-formed UTF-8 sequence that starts at text[i], or 0.
size_t Utf8Length(const std::string &text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length;
  uint32_t code;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i + k) & 0x3F);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

// A JSON string; bytes that are not UTF-8 (the daemon's record may hold
// anything) become U+FFFD.
std::string JsonString(const std::string &text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = Utf8Length(text, i);
    if (length == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  return out + "\"";
}

using Row = std::vector<std::string>;

Row TableRow(const _session_state &state) {
  return {AccountName(state).empty() ? "-" : AccountName(state),
          Endpoint(state.server_ip, state.server_port),
          Endpoint(state.local_ip, state.local_port),
          StatusText(state.status),
          Duration(state.uptime),
          std::to_string(state.bytes_received) + "/" + std::to_string(state.frames_received),
          std::to_string(state.bytes_sent) + "/" + std::to_string(state.frames_sent),
          std::to_string(state.frames_dropped)};
}

}  // namespace

std::string SessionTable(const std::list<_session_state> &states) {
  if (states.empty()) return "Нет активных соединений\n";
  std::vector<Row> rows{{"Учетная запись", "Сервер", "Локальный адрес", "Состояние", "Время",
                         "Принято (байт/кадров)", "Передано (байт/кадров)", "Отброшено"}};
  for (const _session_state &state : states) rows.push_back(TableRow(state));
  std::vector<size_t> widths(rows.front().size(), 0);
  for (const Row &row : rows)
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
  std::string out;
  for (const Row &row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - Width(row[i]) + 2, ' ');
    }
    out += line + "\n";
  }
  return out;
}

std::string SessionJson(const std::list<_session_state> &states, int result) {
  std::string out = "{\"result\": " + std::to_string(result) + ", \"sessions\": [";
  const char *separator = "";
  for (const _session_state &state : states) {
    out += separator;
    separator = ", ";
    out += "{\"account\": " + JsonString(AccountName(state)) +
           ", \"server\": " + JsonString(Dotted(state.server_ip)) +
           ", \"server_port\": " + std::to_string(state.server_port) +
           ", \"local\": " + JsonString(Dotted(state.local_ip)) +
           ", \"local_port\": " + std::to_string(state.local_port) +
           ", \"status\": " + JsonString(StatusName(state.status)) +
           ", \"last_result\": " + std::to_string(state.last_result) +
           ", \"uptime\": " + std::to_string(state.uptime) +
           ", \"bytes_received\": " + std::to_string(state.bytes_received) +
           ", \"bytes_sent\": " + std::to_string(state.bytes_sent) +
           ", \"frames_received\": " + std::to_string(state.frames_received) +
           ", \"frames_sent\": " + std::to_string(state.frames_sent) +
           ", \"frames_dropped\": " + std::to_string(state.frames_dropped) + "}";
  }
  return out + "]}\n";
}
