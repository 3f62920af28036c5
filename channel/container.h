// Owned byte buffers. Container is the plain one; SecContainer holds secret
// material and wipes every byte before the buffer is replaced or released.
#pragma once

#include <cstdint>
#include <vector>

class Container {
 public:
  Container() = default;
  Container(const Container &other) : bytes(other.bytes) {}
  // Hands the old content to Destroy first, so a SecContainer never leaves
  // its old secret bytes behind in a reallocated buffer.
  Container &operator=(const Container &other);
  virtual ~Container() { Destroy(); }

  // Runs before the bytes are replaced or released; nothing to do here.
  virtual void Destroy() {}

  // Destroy, then len zero bytes. A negative length throws std::length_error.
  void Init(int len);
  // Destroy, then a copy of len bytes from src.
  void Init(const void *src, int len);

  int Size() const { return static_cast<int>(bytes.size()); }

  // The first byte, or null for an empty buffer.
  operator void *() { return bytes.empty() ? nullptr : bytes.data(); }
  operator unsigned char *() { return bytes.empty() ? nullptr : bytes.data(); }
  operator const void *() const { return bytes.empty() ? nullptr : bytes.data(); }
  operator const unsigned char *() const { return bytes.empty() ? nullptr : bytes.data(); }

  bool operator==(const Container &other) const { return bytes == other.bytes; }

 protected:
  std::vector<uint8_t> bytes;
};

class SecContainer : public Container {
 public:
  SecContainer() = default;
  SecContainer(const SecContainer &other) = default;
  SecContainer &operator=(const SecContainer &other) = default;
  // The base destructor would only reach Container::Destroy.
  ~SecContainer() override { Destroy(); }

  // Zeroes every byte, then empties the buffer.
  void Destroy() override;
};
