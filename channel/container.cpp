#include "channel/container.h"

#include <cstring>
#include <stdexcept>

Container &Container::operator=(const Container &other) {
  if (this != &other) {
    Destroy();
    bytes = other.bytes;
  }
  return *this;
}

void Container::Init(int len) {
  if (len < 0) throw std::length_error("negative buffer length");
  Destroy();
  bytes.assign(static_cast<size_t>(len), 0);
}

void Container::Init(const void *src, int len) {
  if (len < 0) throw std::length_error("negative buffer length");
  Destroy();
  const auto *from = static_cast<const uint8_t *>(src);
  bytes.assign(from, from + len);
}

void SecContainer::Destroy() {
  if (!bytes.empty()) explicit_bzero(bytes.data(), bytes.size());
  bytes.clear();
}
