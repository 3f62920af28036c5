#include "channel/message.h"

#include <cstring>
#include <stdexcept>

Message::Message(int kind) : bytes(kHeaderSize, 0) { SetKind(kind); }

void Message::Add(const void *data, unsigned len) {
  if (len > static_cast<unsigned>(INT32_MAX) - bytes.size())
    throw std::length_error("message too long");
  const auto *from = static_cast<const uint8_t *>(data);
  bytes.insert(bytes.end(), from, from + len);
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
