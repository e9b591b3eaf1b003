#include "scratch.hpp"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace tamrik::fuzz {

namespace fs = std::filesystem;

namespace {

class ScratchDir {
 public:
  ScratchDir() {
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string templ = (base / "tamrik-fuzz-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) std::abort();
    path_ = templ;
    fs::create_directories(path_ / "home");
    ::setenv("HOME", (path_ / "home").c_str(), 1);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

}  // namespace

const fs::path& scratch_dir() {
  static const ScratchDir dir;
  return dir.path();
}

void write_bytes(const fs::path& file, std::string_view bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) std::abort();
}

std::string_view as_text(const uint8_t* data, size_t size) { return {reinterpret_cast<const char*>(data), size}; }

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace tamrik::fuzz
