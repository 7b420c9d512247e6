// A fixed-size character buffer filled with a mark, to show whether a call wrote into it. Heap
// storage of exactly the given size, so AddressSanitizer also catches a write past the end.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

class MarkedBuffer {
 public:
  static constexpr char kMark = '#';

  explicit MarkedBuffer(std::size_t size) : m_bytes(size, kMark) { m_bytes.back() = '\0'; }

  char* Data() { return m_bytes.data(); }
  std::size_t Size() const { return m_bytes.size(); }
  // The bytes before the first terminator (all of them when there is none).
  std::string Text() const {
    return std::string(m_bytes.begin(), std::find(m_bytes.begin(), m_bytes.end(), '\0'));
  }
  // True when no byte changed since construction.
  bool Untouched() const {
    return std::count(m_bytes.begin(), m_bytes.end(), kMark) ==
               static_cast<std::ptrdiff_t>(m_bytes.size() - 1) &&
           m_bytes.back() == '\0';
  }

 private:
  std::vector<char> m_bytes;
};
