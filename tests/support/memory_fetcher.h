// A Fetcher that serves documents from memory: engine tests and fuzzers run without a socket,
// and a fault is one entry in a table.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "net/fetch.h"

class MemoryFetcher : public Fetcher {
 public:
  // Serves `body` at `address`.
  void Add(const std::string& address, const std::string& body) {
    m_documents[address] = Entry{body, FetchStatus::kOk};
  }
  // Makes a fetch of `address` fail with `status`.
  void Fail(const std::string& address, FetchStatus status) {
    m_documents[address] = Entry{std::string(), status};
  }

  FetchStatus Fetch(const char* address, const FetchLimits& limits,
                    std::vector<char>& body) override {
    body.clear();
    fetched.emplace_back(address != nullptr ? address : "");
    const auto found = m_documents.find(fetched.back());
    if (found == m_documents.end()) return FetchStatus::kHttpError;
    if (found->second.status != FetchStatus::kOk) return found->second.status;
    if (found->second.body.size() > limits.maxBytes) return FetchStatus::kTooLarge;
    body.assign(found->second.body.begin(), found->second.body.end());
    return FetchStatus::kOk;
  }

  // Hands bodies to FetchInto's receiver in pieces of `length` bytes (0, the default: whole), as
  // a network delivers them.
  void SetPieceLength(std::size_t length) { m_pieceLength = length; }

  FetchStatus FetchInto(const char* address, const FetchLimits& limits,
                        ByteReceiver& receiver) override {
    std::vector<char> body;
    const FetchStatus status = Fetch(address, limits, body);
    if (status != FetchStatus::kOk) return status;
    const std::size_t piece = m_pieceLength > 0 ? m_pieceLength : body.size();
    for (std::size_t at = 0; at < body.size(); at += piece) {
      const std::size_t length = body.size() - at < piece ? body.size() - at : piece;
      if (!receiver.Receive(body.data() + at, length)) return FetchStatus::kOutOfMemory;
    }
    return FetchStatus::kOk;
  }

  std::vector<std::string> fetched;  // every address asked for, in order

 private:
  struct Entry {
    std::string body;
    FetchStatus status;
  };
  std::map<std::string, Entry> m_documents;
  std::size_t m_pieceLength = 0;
};
