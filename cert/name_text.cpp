#include "cert/name_text.h"

#include <vector>

#include "cert/text_conv.h"

std::string DirectoryText(const Crypto::DirectoryString &value) {
  const std::uint8_t *bytes = value.data.get();
  const std::vector<std::uint8_t> raw(bytes, bytes + value.data.size());
  if (value.kind != Crypto::DirectoryString::kBmp) return std::string(raw.begin(), raw.end());
  std::string text;
  TextConv::BMPSTRINGtoUTF8(raw, text);
  return text;
}

void FillName(const Crypto::NameMap &name, DistinguishedName &out) {
  for (const auto &[attribute, value] : name) out.Field(static_cast<int>(attribute)) = DirectoryText(value);
}
