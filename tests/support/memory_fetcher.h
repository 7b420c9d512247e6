// A Fetcher that serves documents from memory: engine tests and fuzzers run without a socket,
// and a fault is one entry in a table.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <thread>
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

  // Makes each fetch of `address` take `delay` first, as a slow server would.
  void Delay(const std::string& address, std::chrono::milliseconds delay) {
    m_delays[address] = delay;
  }

  FetchStatus Fetch(const char* address, const FetchLimits& limits,
                    std::vector<char>& body) override {
    body.clear();
    fetched.emplace_back(address != nullptr ? address : "");
    limitsAsked.push_back(limits);
    const auto delayed = m_delays.find(fetched.back());
    if (delayed != m_delays.end()) std::this_thread::sleep_for(delayed->second);
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

  std::vector<std::string> fetched;      // every address asked for, in order
  std::vector<FetchLimits> limitsAsked;  // the limits of each of those fetches

 private:
  struct Entry {
    std::string body;
    FetchStatus status;
  };
  std::map<std::string, Entry> m_documents;
  std::map<std::string, std::chrono::milliseconds> m_delays;
  std::size_t m_pieceLength = 0;
};
