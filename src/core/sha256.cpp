// libcrypto is linked statically into the libraries that hash, and its
// one-shot and EVP digests pull in the whole provider machinery (megabytes
// of code and thousands of load-time relocations every hook pays for). The
// SHA-256 primitive alone is a few kilobytes. OpenSSL 3 marks it deprecated,
// not removed; we declare the 1.1.1 API we rely on.
#define OPENSSL_API_COMPAT 10101

#include "core/sha256.hpp"

#include <openssl/sha.h>

#include <stdexcept>

namespace tamrik::core {

std::string sha256_hex(std::string_view bytes) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256_CTX context;
  if (SHA256_Init(&context) != 1 || SHA256_Update(&context, bytes.data(), bytes.size()) != 1 ||
      SHA256_Final(digest, &context) != 1) {
    throw std::runtime_error("SHA-256 digest failed in libcrypto");
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * SHA256_DIGEST_LENGTH);
  for (const unsigned char byte : digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 0xF];
  }
  return hex;
}

}  // namespace tamrik::core
