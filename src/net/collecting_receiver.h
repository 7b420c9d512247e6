// The vector side of a fetch that streams: a receiver that keeps the whole body, so one read loop
// serves both Fetch and FetchInto. Private to src/net.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

#include "net/fetch.h"

class CollectingReceiver : public ByteReceiver {
 public:
  explicit CollectingReceiver(std::vector<char>& body) : m_body(body) {}

  // Room for the whole body before its first bytes, when its length is known and within the cap:
  // growing a vector of hundreds of MiB step by step copies it again at each step. Raises
  // std::bad_alloc when the room cannot be had.
  void Expect(std::size_t length) { m_body.reserve(length); }

  bool Receive(const char* data, std::size_t length) override {
    try {
      m_body.insert(m_body.end(), data, data + length);
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

 private:
  std::vector<char>& m_body;
};
