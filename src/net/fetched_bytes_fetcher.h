// A Fetcher that serves bytes already fetched, once, at the one address they came from: a
// document can be parsed from exactly the bytes that were checked (a signed manifest), never
// from a second fetch that could differ.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "net/fetch.h"

class FetchedBytesFetcher : public Fetcher {
 public:
  // Serves `bytes` (taken, the vector is left empty) at `address`; any other address fails.
  FetchedBytesFetcher(const std::string& address, std::vector<char>& bytes) : m_address(address) {
    m_bytes.swap(bytes);
  }
  FetchStatus Fetch(const char* address, const FetchLimits& /*limits*/,
                    std::vector<char>& body) override {
    body.clear();
    if (address == nullptr || m_address != address) return FetchStatus::kUnsupportedAddress;
    body.swap(m_bytes);  // served once
    return FetchStatus::kOk;
  }

 private:
  std::string m_address;
  std::vector<char> m_bytes;
};
