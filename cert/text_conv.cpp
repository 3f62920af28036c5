#include "cert/text_conv.h"

#include <iconv.h>

#include <bit>

namespace TextConv {

int XtoUTF8(const std::string &from, const std::vector<std::uint8_t> &in, std::string &out) {
  out.clear();
  iconv_t converter = iconv_open("UTF-8", from.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return -1;
  // UTF-8 never needs more than 8 bytes per input byte; one more for the end.
  std::vector<char> buffer(in.size() * 8 + 1, '\0');
  char *source = reinterpret_cast<char *>(const_cast<std::uint8_t *>(in.data()));
  size_t source_left = in.size();
  char *target = buffer.data();
  size_t target_left = buffer.size() - 1;
  iconv(converter, &source, &source_left, &target, &target_left);  // partial output is kept
  iconv_close(converter);
  *target = '\0';
  out = buffer.data();
  return 0;
}

int UNICODEtoUTF8(const std::vector<std::uint8_t> &in, std::string &out) {
  return XtoUTF8(std::endian::native == std::endian::little ? "UCS-2LE" : "UCS-2BE", in, out);
}

int BMPSTRINGtoUTF8(const std::vector<std::uint8_t> &in, std::string &out) {
  const std::vector<std::uint8_t> whole_units(in.begin(), in.begin() + (in.size() & ~size_t{1}));
  return XtoUTF8("UCS-2BE", whole_units, out);
}

}  // namespace TextConv
