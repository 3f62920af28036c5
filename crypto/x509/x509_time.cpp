#include "crypto/x509/x509_time.h"

#include <openssl/bio.h>
#include <openssl/x509.h>

#include <ctime>
#include <stdexcept>

#include "crypto/x509/auto_scope.h"
#include "crypto/x509/x509_texts.h"

namespace CryptoGostImpl {

std::string time_text(const ASN1_TIME *time) {
  AutoScope<BIO> out(BIO_new(BIO_s_mem()), BIO_free_all);
  char text[100];
  if (!time || !ASN1_TIME_print(out.get(), time)) return X509Text::kInvalidDate;
  const int length = BIO_read(out.get(), text, sizeof text - 1);
  if (length <= 0) return X509Text::kInvalidDate;
  return std::string(text, std::size_t(length));
}

namespace {

// X509_cmp_time: -1 when time is at or before t, 1 after, 0 when it cannot compare.
int compare(const ASN1_TIME *time, long t, const char *error) {
  std::time_t at = t;
  const int order = time ? X509_cmp_time(time, &at) : 0;
  if (order == 0) throw std::runtime_error(error);
  return order;
}

}  // namespace

int check_window(const ASN1_TIME *first, const ASN1_TIME *second, long t) {
  if (compare(first, t, X509Text::kNotBefore) > 0) return 1;
  return compare(second, t, X509Text::kNotAfter) < 0 ? 1 : 0;
}

}  // namespace CryptoGostImpl
