// ASN.1 string contents to UTF-8 with iconv. Each conversion returns 0, or -1
// when the converter cannot be opened (out is then empty); a conversion that
// stops part way keeps what was converted, and an embedded NUL ends the text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TextConv {

// From the iconv encoding `from`.
int XtoUTF8(const std::string &from, const std::vector<std::uint8_t> &in, std::string &out);
// UCS-2 in host byte order.
int UNICODEtoUTF8(const std::vector<std::uint8_t> &in, std::string &out);
// BMPString content: UCS-2 big-endian; an odd final byte is ignored.
int BMPSTRINGtoUTF8(const std::vector<std::uint8_t> &in, std::string &out);

}  // namespace TextConv
