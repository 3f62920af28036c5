// One OpenSSL object and the function that frees it, freed when the scope
// ends however it is left.
#pragma once

#include <stdexcept>

#include "crypto/x509/x509_texts.h"

namespace CryptoGostImpl {

template <class T>
class AutoScope {
 public:
  using Free = void (*)(T *);

  // A null object is the failure of the call that made it.
  AutoScope(T *object, Free free) : object_(object), free_(free) {
    if (!object_) throw std::runtime_error(X509Text::kNullScoped);
  }
  AutoScope(const AutoScope &) = delete;
  AutoScope &operator=(const AutoScope &) = delete;
  ~AutoScope() {
    if (object_) free_(object_);
  }

  T *get() const { return object_; }
  // Hands the object to an owner that frees it.
  T *release() {
    T *object = object_;
    object_ = nullptr;
    return object;
  }

 private:
  T *object_;
  Free free_;
};

}  // namespace CryptoGostImpl
