// A shop's own mirrors of a release: each document the stage fetches is asked of the mirrors in
// order, then of the publisher, and a mirror that fails once is skipped for the rest of the run.
// Portable.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "net/fetch.h"

// The setting listing the mirrors, in order, separated by ";" (beside "urlact").
extern const char kMirrorsValue[];  // "espejos"

// The mirrors of the setting's text: each trimmed of spaces, empty ones dropped, each ending with
// a separator ("/", or "\" for a path written with backslashes only).
std::vector<std::string> ParseMirrorList(const std::string& text);

// Where a manifest's documents are published: its address up to and including the last "/" (or
// "\" for a path written with backslashes). Empty when it has neither.
std::string PublisherBase(const std::string& manifestAddress);

class MirrorFetcher : public Fetcher {
 public:
  // `network` fetches every source; a document under `publisherBase` is asked of each mirror as
  // the mirror's base followed by the rest of its address. Mirrors that are local paths or file:
  // addresses are used only with `localMirrorsAllowed` (every document then checked against its
  // signed digest); others are skipped. Everything given must outlive the fetcher.
  MirrorFetcher(Fetcher& network, std::string publisherBase, std::vector<std::string> mirrors,
                bool localMirrorsAllowed);

  FetchStatus Fetch(const char* address, const FetchLimits& limits,
                    std::vector<char>& body) override;
  FetchStatus FetchInto(const char* address, const FetchLimits& limits,
                        ByteReceiver& receiver) override;
  // Each source in turn while none has handed the receiver a byte; once one has, its status is
  // returned as it is (the stage takes the document up from what it holds).
  FetchStatus FetchFrom(const char* address, const FetchLimits& limits, const ResumePoint& from,
                        ByteReceiver& receiver) override;

  // The mirror that served `address` last is skipped from now on: what it served did not match
  // its digest. False when the publisher served it (or nothing did): no other source is left.
  bool Distrust(const std::string& address);

 private:
  // The source `index` (mirrors, then the publisher) of `address`; empty when that source cannot
  // serve it. `limits` is adjusted for a local mirror.
  std::string SourceAddress(std::size_t index, const std::string& address,
                            FetchLimits& limits) const;
  template <typename Attempt>
  FetchStatus FromSources(const char* address, const FetchLimits& limits, Attempt attempt);

  Fetcher& m_network;
  std::string m_publisherBase;
  std::vector<std::string> m_mirrors;
  std::vector<bool> m_failed;  // per mirror, for this run
  bool m_localMirrorsAllowed;
  std::map<std::string, std::size_t> m_servedBy;  // document address -> source index
};
