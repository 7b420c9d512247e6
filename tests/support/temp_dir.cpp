// Per-test temporary directories and whole-file helpers, on std::filesystem so that one file
// serves both targets (the directory lands in the platform's own temporary folder).
#include "support/temp_dir.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string RandomSuffix() {
  static std::atomic<unsigned> counter{0};
  std::random_device device;
  unsigned long long value = (static_cast<unsigned long long>(device()) << 20) ^ counter++;
  const char digits[] = "0123456789abcdef";
  std::string suffix;
  for (int i = 0; i < 12; ++i, value >>= 4) suffix += digits[value & 0xF];
  return suffix;
}

}  // namespace

TempDir::TempDir() {
  std::error_code error;
  fs::path base = fs::temp_directory_path(error);
  if (error) throw std::runtime_error("no temporary directory: " + error.message());
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / ("mubax-test-" + RandomSuffix());
    if (fs::create_directory(candidate, error)) {
      m_path = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory under " + base.string());
}

TempDir::~TempDir() {
  std::error_code error;
  fs::remove_all(m_path, error);
}

std::string TempDir::Join(const std::string& name) const {
  return m_path + static_cast<char>(fs::path::preferred_separator) + name;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool PathExists(const std::string& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(path, error));
}
