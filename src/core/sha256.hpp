#pragma once

#include <string>
#include <string_view>

namespace tamrik::core {

// Lowercase hexadecimal SHA-256 digest of `bytes` (64 digits).
std::string sha256_hex(std::string_view bytes);

}  // namespace tamrik::core
