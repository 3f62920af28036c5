#include "daemon/server.h"

#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "channel/message.h"
#include "channel/message_kinds.h"
#include "impex/msg_compiler.h"

namespace {

constexpr int kPayloadWaitMs = 1000;   // a header's payload follows at once
constexpr int kStopCheckMs = 200;
constexpr size_t kReceiveRoom = Message::kHeaderSize + Message::kMaxPayload + 1;

sockaddr_un Address(const std::string &path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) throw std::runtime_error("socket path too long: " + path);
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return addr;
}

constexpr const char *kLevelNames[] = {"INFO", "ERROR", "FATAL", "TRAFF", "DEBUG"};

// The text of a NUL-padded field, or nothing when it has no NUL.
std::optional<std::string> Field(const uint8_t *field, size_t size) {
  const void *nul = std::memchr(field, 0, size);
  if (!nul) return std::nullopt;
  return std::string(reinterpret_cast<const char *>(field),
                     static_cast<size_t>(static_cast<const uint8_t *>(nul) - field));
}

uint32_t ServerIp(const std::vector<uint8_t> &payload) {
  uint32_t ip;
  std::memcpy(&ip, payload.data() + RequestLayout::kServerIp, sizeof ip);
  return ip;
}

RequestEvent Malformed(int kind, const std::string &sender_name) {
  return {EventLog::ERROR, 0, sender_name, "Искажённый запрос: вид " + std::to_string(kind)};
}

// An unbound sender's address is the family alone.
bool Named(socklen_t len) { return len > offsetof(sockaddr_un, sun_path); }

// The path, or "@" and the name of an abstract address.
std::string Describe(const sockaddr_un &addr, socklen_t len) {
  const size_t name_len = std::min<size_t>(len, sizeof addr) - offsetof(sockaddr_un, sun_path);
  const char *name = addr.sun_path;
  if (name[0] != '\0') return std::string(name, strnlen(name, name_len));
  return "@" + std::string(name + 1, name_len - 1);
}

bool SameSender(const sockaddr_un &a, socklen_t a_len, const sockaddr_un &b, socklen_t b_len) {
  return a_len == b_len && std::memcmp(&a, &b, std::min<size_t>(a_len, sizeof a)) == 0;
}

// Sleeps in short steps so that a stop request ends the pause.
void Pause(int ms, const volatile std::sig_atomic_t &stop) {
  constexpr int kStepMs = 50;
  for (int left = ms; left > 0 && !stop; left -= kStepMs)
    usleep(static_cast<useconds_t>(std::min(left, kStepMs)) * 1000);
}

}  // namespace

RequestEvent EventFor(int kind, const std::vector<uint8_t> &payload, uid_t sender,
                      const std::string &sender_name) {
  using namespace RequestLayout;
  switch (kind) {
    case RequestKind::kConnect:
    case RequestKind::kDisconnect: {
      if (payload.size() < kRecord + kBlock) return Malformed(kind, sender_name);
      const std::optional<std::string> named = Field(payload.data() + kBlockUser, kName);
      if (!named) return Malformed(kind, sender_name);
      return {EventLog::INFO, ServerIp(payload),
              sender == 0 && !named->empty() ? *named : sender_name,
              kind == RequestKind::kConnect ? "Запрос на подключение" : "Запрос на отключение"};
    }
    case RequestKind::kStatistics:
      if (payload.size() < kRecord) return Malformed(kind, sender_name);
      return {EventLog::DEBUG, ServerIp(payload), sender_name, "Запрос статистики"};
    case RequestKind::kParameters:
      if (payload.size() < kRecord) return Malformed(kind, sender_name);
      return {EventLog::INFO, ServerIp(payload), sender_name, "Параметры соединения обновлены"};
    case RequestKind::kLog: {
      int32_t type;
      if (payload.size() < sizeof type + kName + 1) return Malformed(kind, sender_name);
      std::memcpy(&type, payload.data(), sizeof type);
      const std::optional<std::string> named = Field(payload.data() + sizeof type, kName);
      const size_t text_at = sizeof type + kName;
      const std::optional<std::string> text =
          Field(payload.data() + text_at, payload.size() - text_at);
      if (!named || !text) return Malformed(kind, sender_name);
      return {static_cast<EventLog::EventType>(std::clamp<int32_t>(type, EventLog::INFO, EventLog::DEBUG)),
              0, sender == 0 ? *named : sender_name, *text};
    }
    default:
      return {EventLog::ERROR, 0, sender_name, "Неизвестный запрос: вид " + std::to_string(kind)};
  }
}

std::string MaskedHex(int kind, const std::vector<uint8_t> &payload) {
  static const char kDigits[] = "0123456789abcdef";
  const bool secret = kind == RequestKind::kConnect || kind == RequestKind::kDisconnect;
  std::string out;
  out.reserve(payload.size() * 2);
  for (size_t i = 0; i < payload.size(); ++i) {
    const bool masked = secret && i >= RequestLayout::kPassword &&
                        i < RequestLayout::kPassword + RequestLayout::kName;
    const uint8_t byte = masked ? 0 : payload[i];
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 15]);
  }
  return out;
}

std::string UserName(uid_t uid) {
  std::vector<char> room(16384);
  passwd entry{};
  passwd *found = nullptr;
  if (getpwuid_r(uid, &entry, room.data(), room.size(), &found) == 0 && found)
    return found->pw_name;
  return "uid " + std::to_string(uid);
}

Server::Server(const std::string &socket_path, const Script &script, std::ostream &log,
               EventLog *events)
    : path(socket_path), script(script), log(log), events(events) {
  const sockaddr_un self = Address(socket_path);
  fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  unlink(path.c_str());
  // The kernel names each datagram's sender: whose events a request writes.
  const int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
      bind(fd, reinterpret_cast<const sockaddr *>(&self), sizeof self) != 0 ||
      chmod(path.c_str(), 0666) != 0) {
    const std::string reason = std::strerror(errno);
    close(fd);
    throw std::runtime_error("bind " + path + ": " + reason);
  }
}

Server::~Server() {
  close(fd);
  unlink(path.c_str());
}

bool Server::Receive(Datagram &out, int timeout_ms) {
  pollfd ready{fd, POLLIN, 0};
  if (poll(&ready, 1, timeout_ms) <= 0) return false;
  out.bytes.resize(kReceiveRoom);
  iovec data{out.bytes.data(), out.bytes.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred)) + CMSG_SPACE(sizeof(int) * 4)];
  msghdr message{};
  message.msg_name = &out.from;
  message.msg_namelen = sizeof out.from;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t got = recvmsg(fd, &message, MSG_CMSG_CLOEXEC);
  if (got < 0) return false;
  out.from_len = message.msg_namelen;
  out.bytes.resize(static_cast<size_t>(got));
  out.has_sender = false;
  for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_SOCKET) continue;
    if (c->cmsg_type == SCM_CREDENTIALS && c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
      std::memcpy(&out.sender, CMSG_DATA(c), sizeof(ucred));
      out.has_sender = true;
    } else if (c->cmsg_type == SCM_RIGHTS) {  // descriptors nobody asked for
      const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (size_t i = 0; i < count; ++i) {
        int passed;
        std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof passed);
        close(passed);
      }
    }
  }
  return true;
}

void Server::Run(const volatile std::sig_atomic_t &stop) {
  Datagram header;
  while (!stop) {
    if (!Receive(header, kStopCheckMs)) continue;
    Serve(header, stop);
    explicit_bzero(header.bytes.data(), header.bytes.size());  // a stray payload, perhaps
  }
}

void Server::Serve(const Datagram &header, const volatile std::sig_atomic_t &stop) {
  if (header.bytes.size() != Message::kHeaderSize) {
    log << "skipped: datagram of " << header.bytes.size() << " bytes where a header belongs"
        << std::endl;
    return;
  }
  _MessageHeader fields;
  std::memcpy(&fields, header.bytes.data(), sizeof fields);
  if (fields.length < 0 || fields.length > Message::kMaxPayload) {
    log << "skipped: header of kind " << fields.kind << " with length " << fields.length
        << std::endl;
    return;
  }
  Datagram payload;
  if (!Receive(payload, kPayloadWaitMs)) {
    log << "skipped: no payload after the header of kind " << fields.kind << std::endl;
    return;
  }
  // The payload may hold a password: no copy of it outlives this request.
  struct Wipe {
    std::vector<uint8_t> &bytes;
    ~Wipe() { explicit_bzero(bytes.data(), bytes.size()); }
  } wipe{payload.bytes};
  if (!SameSender(header.from, header.from_len, payload.from, payload.from_len) ||
      payload.bytes.size() != static_cast<size_t>(fields.length)) {
    log << "skipped: kind " << fields.kind << " announced " << fields.length
        << " payload bytes, the next datagram has " << payload.bytes.size() << std::endl;
    return;
  }
  if (header.has_sender != payload.has_sender || header.sender.uid != payload.sender.uid) {
    log << "skipped: header and payload of kind " << fields.kind << " from different users"
        << std::endl;
    return;
  }
  log << "request kind=" << fields.kind << " length=" << fields.length
      << " payload=" << MaskedHex(fields.kind, payload.bytes) << std::endl;
  Record(fields.kind, payload.bytes, header);
  if (!Named(header.from_len)) {
    log << "skipped the answer: kind " << fields.kind << " came from an unbound socket"
        << std::endl;
    return;
  }
  Answer(fields.kind, header.from, header.from_len, stop);
}

void Server::Answer(int kind, const sockaddr_un &to, socklen_t to_len,
                    const volatile std::sig_atomic_t &stop) {
  for (const Step &step : script.Answer(kind)) {
    if (stop) return;
    switch (step.type) {
      case Step::Type::kSleep:
        Pause(step.delay_ms, stop);
        break;
      case Step::Type::kRaw:
        SendDatagram(step.bytes.data(), step.bytes.size(), to, to_len);
        break;
      case Step::Type::kMessage: {
        Message msg(step.kind);
        msg.Add(step.bytes.data(), static_cast<unsigned>(step.bytes.size()));
        SendDatagram(msg.Header(), Message::kHeaderSize, to, to_len);
        SendDatagram(msg.Payload(), static_cast<size_t>(msg.Length()), to, to_len);
        break;
      }
    }
  }
}

void Server::SendDatagram(const void *data, size_t len, const sockaddr_un &to, socklen_t to_len) {
  if (sendto(fd, data, len, 0, reinterpret_cast<const sockaddr *>(&to), to_len) < 0)
    log << "send to " << Describe(to, to_len) << " failed: " << std::strerror(errno) << std::endl;
}

void Server::Record(int kind, const std::vector<uint8_t> &payload, const Datagram &header) {
  const uid_t sender = header.has_sender ? header.sender.uid : static_cast<uid_t>(-1);
  const RequestEvent event = EventFor(kind, payload, sender, UserName(sender));
  std::string address;
  MsgCompiler::MsgAddress(address, event.address);
  address.erase(0, address.find_first_not_of(' '));
  log << "event " << kLevelNames[event.type] << " | " << address << " | "
      << (event.user.empty() ? "system" : event.user) << " | " << event.text << std::endl;
  if (events) events->Trigger(event.type, event.address, event.user, event.text);
}
