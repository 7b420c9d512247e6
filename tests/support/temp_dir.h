// A real temporary directory for one test, removed with everything in it when the test ends.
#pragma once

#include <string>
#include <vector>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory, without a trailing separator, in the platform's own form.
  const std::string& Path() const { return m_path; }
  // Path() + separator + `name`.
  std::string Join(const std::string& name) const;

 private:
  std::string m_path;
};

// Whole-file helpers for comparing bytes.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
bool ReadWholeFile(const std::string& path, std::string& bytes);
bool PathExists(const std::string& path);
