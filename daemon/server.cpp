#include "daemon/server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <stdexcept>

#include "channel/message.h"

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

std::string Hex(const uint8_t *data, size_t len) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < len; ++i) {
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 15]);
  }
  return out;
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

Server::Server(const std::string &socket_path, const Script &script, std::ostream &log)
    : path(socket_path), script(script), log(log) {
  const sockaddr_un self = Address(socket_path);
  fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  unlink(path.c_str());
  if (bind(fd, reinterpret_cast<const sockaddr *>(&self), sizeof self) != 0 ||
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
  out.from_len = sizeof out.from;
  const ssize_t got = recvfrom(fd, out.bytes.data(), out.bytes.size(), 0,
                               reinterpret_cast<sockaddr *>(&out.from), &out.from_len);
  if (got < 0) return false;
  out.bytes.resize(static_cast<size_t>(got));
  return true;
}

void Server::Run(const volatile std::sig_atomic_t &stop) {
  Datagram header;
  while (!stop) {
    if (Receive(header, kStopCheckMs)) Serve(header, stop);
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
  if (!SameSender(header.from, header.from_len, payload.from, payload.from_len) ||
      payload.bytes.size() != static_cast<size_t>(fields.length)) {
    log << "skipped: kind " << fields.kind << " announced " << fields.length
        << " payload bytes, the next datagram has " << payload.bytes.size() << std::endl;
    return;
  }
  log << "request kind=" << fields.kind << " length=" << fields.length
      << " payload=" << Hex(payload.bytes.data(), payload.bytes.size()) << std::endl;
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
