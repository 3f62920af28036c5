// A command-channel message: an 8-byte header (kind, payload length; 32-bit
// signed, host order) followed by the payload, in one contiguous buffer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct _MessageHeader {
  int32_t kind;
  int32_t length;  // payload bytes that follow the header
};
static_assert(sizeof(_MessageHeader) == 8);

class Message {
 public:
  static constexpr int kHeaderSize = sizeof(_MessageHeader);
  // Far above any request or answer; a longer length field is malformed.
  static constexpr int kMaxPayload = 65536;

  explicit Message(int kind);
  // Requests carry passwords: the bytes are wiped before release.
  ~Message();
  Message(const Message &) = default;
  Message &operator=(const Message &);

  // Appends len payload bytes and updates the length field.
  void Add(const void *data, unsigned len);

  // The header bytes, for sending and for reading back.
  unsigned char *Header() { return bytes.data(); }
  const unsigned char *Header() const { return bytes.data(); }
  unsigned char *Payload() { return bytes.data() + kHeaderSize; }
  const unsigned char *Payload() const { return bytes.data() + kHeaderSize; }
  // Total size, header included.
  int Size() const { return static_cast<int>(bytes.size()); }

  int Kind() const;
  void SetKind(int kind);
  int Length() const { return Size() - kHeaderSize; }

  // The payload's first 32-bit integer; nothing if the payload is shorter.
  std::optional<int32_t> FirstInt() const;
  // The payload as text, up to its first NUL or its end.
  std::string Text() const;

 private:
  std::vector<uint8_t> bytes;
};
