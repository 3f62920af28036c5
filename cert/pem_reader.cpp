#include "cert/pem_reader.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace {

template <class T, T *(*Read)(BIO *, T **, pem_password_cb *, void *), int (*Encode)(const T *, unsigned char **),
          void (*Free)(T *)>
bool PemToDer(const SecContainer &text, SecContainer &der) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(
      BIO_new_mem_buf(static_cast<const unsigned char *>(text), text.Size()), &BIO_free);
  if (!bio) return false;
  // No password callback that could prompt: an encrypted block simply fails.
  std::unique_ptr<T, decltype(Free)> object(Read(bio.get(), nullptr, nullptr, const_cast<char *>("")), Free);
  ERR_clear_error();  // a failed read leaves its reasons on this thread's queue
  if (!object) return false;
  unsigned char *encoded = nullptr;
  const int length = Encode(object.get(), &encoded);
  if (length <= 0) return false;
  der.Init(encoded, length);
  OPENSSL_free(encoded);
  return true;
}

}  // namespace

bool PemCertToDer(const SecContainer &text, SecContainer &der) {
  return PemToDer<X509, PEM_read_bio_X509_AUX, i2d_X509, X509_free>(text, der);
}

bool PemCrlToDer(const SecContainer &text, SecContainer &der) {
  return PemToDer<X509_CRL, PEM_read_bio_X509_CRL, i2d_X509_CRL, X509_CRL_free>(text, der);
}
