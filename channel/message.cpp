#include "channel/message.h"

#include <cstring>
#include <stdexcept>

namespace {

void Wipe(std::vector<uint8_t> &bytes) {
  if (!bytes.empty()) explicit_bzero(bytes.data(), bytes.size());
}

}  // namespace

Message::Message(int kind) : bytes(kHeaderSize, 0) { SetKind(kind); }

Message::~Message() { Wipe(bytes); }

Message &Message::operator=(const Message &other) {
  if (this != &other) {
    Wipe(bytes);
    bytes = other.bytes;
  }
  return *this;
}

void Message::Add(const void *data, unsigned len) {
  if (len > static_cast<unsigned>(INT32_MAX) - bytes.size())
    throw std::length_error("message too long");
  const auto *from = static_cast<const uint8_t *>(data);
  // Grown into a new buffer, so that no unwiped copy is left behind.
  std::vector<uint8_t> grown;
  grown.reserve(bytes.size() + len);
  grown.assign(bytes.begin(), bytes.end());
  grown.insert(grown.end(), from, from + len);
  Wipe(bytes);
  bytes.swap(grown);
  const int32_t length = Length();
  std::memcpy(bytes.data() + offsetof(_MessageHeader, length), &length, sizeof length);
}

int Message::Kind() const {
  int32_t kind;
  std::memcpy(&kind, bytes.data() + offsetof(_MessageHeader, kind), sizeof kind);
  return kind;
}

void Message::SetKind(int kind) {
  const int32_t value = kind;
  std::memcpy(bytes.data() + offsetof(_MessageHeader, kind), &value, sizeof value);
}

std::optional<int32_t> Message::FirstInt() const {
  int32_t value;
  if (Length() < static_cast<int>(sizeof value)) return std::nullopt;
  std::memcpy(&value, Payload(), sizeof value);
  return value;
}

std::string Message::Text() const {
  const char *text = reinterpret_cast<const char *>(Payload());
  return std::string(text, strnlen(text, static_cast<size_t>(Length())));
}
