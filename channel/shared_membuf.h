// A reference-counted byte array with a read offset; copies share the array.
#pragma once

#include <cstdint>
#include <memory>

class shared_membuf {
 public:
  // Contents are not initialised; the creator fills them through get().
  explicit shared_membuf(unsigned size)
      : data(new uint8_t[size]), total(size), offset(0) {}

  uint8_t *get() const { return data.get() + offset; }
  uint32_t size() const { return total - offset; }

 private:
  std::shared_ptr<uint8_t[]> data;
  uint32_t total;
  uint32_t offset;
};
