// Helpers shared by the crypto tests: hex, vector files, S-boxes by name and
// libgcrypt as the independent implementation.
#pragma once

#include <gcrypt.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace CryptoTesting {

using Bytes = std::vector<std::uint8_t>;

inline Bytes from_hex(const std::string &hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(std::uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string to_hex(const std::uint8_t *p, std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += {digits[p[i] >> 4], digits[p[i] & 15]};
  return s;
}
inline std::string to_hex(const Bytes &b) { return to_hex(b.data(), b.size()); }

inline std::string testdata(const std::string &name) { return std::string(YRK_CRYPTO_TESTDATA) + "/" + name; }

// A vector file: "[section]" lines open a group, "Key = value" lines fill the
// current record, a blank line ends it; "#" starts a comment.
struct Record {
  std::string section;
  std::map<std::string, std::string> fields;
  const std::string &at(const std::string &k) const { return fields.at(k); }
  bool has(const std::string &k) const { return fields.count(k) != 0; }
};

inline std::vector<Record> load_vectors(const std::string &name) {
  std::ifstream in(testdata(name));
  if (!in) throw std::runtime_error("missing test data " + name);
  std::vector<Record> records;
  Record current;
  auto flush = [&] {
    if (!current.fields.empty()) records.push_back(current);
    current.fields.clear();
  };
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] == '#') continue;
    if (line.empty()) {
      flush();
    } else if (line[0] == '[') {
      flush();
      current.section = line.substr(1, line.find(']') - 1);
    } else {
      const auto eq = line.find('=');
      auto trim = [](std::string t) {
        t.erase(0, t.find_first_not_of(' '));
        t.erase(t.find_last_not_of(' ') + 1);
        return t;
      };
      current.fields[trim(line.substr(0, eq))] = eq == std::string::npos ? "" : trim(line.substr(eq + 1));
    }
  }
  flush();
  return records;
}

struct NamedSBox {
  Bytes packed;
  std::string oid;
};

// Packed S-boxes built from the K1..K8 rows of testdata/sboxes.vec.
inline const NamedSBox &named_sbox(const std::string &name) {
  static const std::map<std::string, NamedSBox> all = [] {
    std::map<std::string, NamedSBox> boxes;
    for (const auto &r : load_vectors("sboxes.vec")) {
      NamedSBox &box = boxes[r.section];
      box.oid = r.at("OID");
      box.packed.resize(64);
      for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 16; ++row) {
          // Not "K" + std::to_string(): GCC 12 at -O3 warns falsely (-Wrestrict) on it.
          const std::string lo = r.at(std::string("K").append(std::to_string(2 * c + 1))),
                            hi = r.at(std::string("K").append(std::to_string(2 * c + 2)));
          box.packed[4 * row + c] = std::uint8_t(std::stoi(lo.substr(row, 1), nullptr, 16) |
                                                 std::stoi(hi.substr(row, 1), nullptr, 16) << 4);
        }
    }
    return boxes;
  }();
  return all.at(name);
}

inline const Bytes &sbox(const std::string &name) { return named_sbox(name).packed; }
inline const std::string &sbox_oid(const std::string &name) { return named_sbox(name).oid; }

inline void init_gcrypt() {
  static const bool ready = [] {
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  (void)ready;
}

inline std::mt19937_64 &prng() {
  static std::mt19937_64 gen(0x5eed1234);
  return gen;
}

inline Bytes random_bytes(std::size_t n) {
  Bytes b(n);
  for (auto &x : b) x = std::uint8_t(prng()());
  return b;
}

// The lengths every differential test walks through.
inline std::vector<std::size_t> edge_lengths() { return {0, 1, 7, 8, 9, 31, 32, 33, 64, 100, 1408, 4096, 5000}; }

// Splits n into random pieces (some empty).
inline std::vector<std::size_t> random_pieces(std::size_t n) {
  std::vector<std::size_t> pieces;
  while (n) {
    std::size_t p = std::min<std::size_t>(n, prng()() % 70);
    pieces.push_back(p);
    n -= p;
  }
  return pieces;
}

}  // namespace CryptoTesting
