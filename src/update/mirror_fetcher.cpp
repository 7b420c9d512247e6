// Mirrors: mapping a document's address onto each mirror and falling back in order.
#include "update/mirror_fetcher.h"

#include <utility>

#include "net/address.h"

const char kMirrorsValue[] = "espejos";

namespace {

const char kMirrorSeparator = ';';

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trimmed(const std::string& text) {
  std::size_t start = 0;
  std::size_t end = text.size();
  while (start < end && IsBlank(text[start])) ++start;
  while (end > start && IsBlank(text[end - 1])) --end;
  return text.substr(start, end - start);
}

bool UsesBackslashesOnly(const std::string& text) {
  return text.find('\\') != std::string::npos && text.find('/') == std::string::npos;
}

bool IsLocalKind(AddressKind kind) {
  return kind == AddressKind::kLocalPath || kind == AddressKind::kFileUrl;
}

// Notes whether the fetch handed on any byte, so a source that failed before its first byte can
// give way to the next one without the stage noticing.
class WatchedReceiver : public ByteReceiver {
 public:
  explicit WatchedReceiver(ByteReceiver& inner) : m_inner(inner) {}
  bool Start(const BodyStart& start) override {
    m_touched = true;
    return m_inner.Start(start);
  }
  bool Receive(const char* data, std::size_t length) override {
    m_touched = true;
    return m_inner.Receive(data, length);
  }
  bool Touched() const { return m_touched; }

 private:
  ByteReceiver& m_inner;
  bool m_touched = false;
};

}  // namespace

std::vector<std::string> ParseMirrorList(const std::string& text) {
  std::vector<std::string> mirrors;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(kMirrorSeparator, start);
    if (end == std::string::npos) end = text.size();
    std::string mirror = Trimmed(text.substr(start, end - start));
    if (!mirror.empty()) {
      const char last = mirror.back();
      if (last != '/' && last != '\\') mirror += UsesBackslashesOnly(mirror) ? '\\' : '/';
      mirrors.push_back(mirror);
    }
    start = end + 1;
  }
  return mirrors;
}

std::string PublisherBase(const std::string& manifestAddress) {
  const std::size_t last =
      manifestAddress.find_last_of(UsesBackslashesOnly(manifestAddress) ? "\\" : "/");
  return last == std::string::npos ? std::string() : manifestAddress.substr(0, last + 1);
}

MirrorFetcher::MirrorFetcher(Fetcher& network, std::string publisherBase,
                             std::vector<std::string> mirrors, bool localMirrorsAllowed)
    : m_network(network),
      m_publisherBase(std::move(publisherBase)),
      m_mirrors(std::move(mirrors)),
      m_failed(m_mirrors.size(), false),
      m_localMirrorsAllowed(localMirrorsAllowed) {}

std::string MirrorFetcher::SourceAddress(std::size_t index, const std::string& address,
                                         FetchLimits& limits) const {
  if (index == m_mirrors.size()) return address;  // the publisher, last
  if (m_failed[index] || m_publisherBase.empty() ||
      address.compare(0, m_publisherBase.size(), m_publisherBase) != 0) {
    return std::string();
  }
  const std::string& mirror = m_mirrors[index];
  if (IsLocalKind(ClassifyAddress(mirror.c_str()))) {
    if (!m_localMirrorsAllowed) return std::string();
    limits.allowLocalFiles = true;  // the mirror is the shop's setting, and digests are checked
  }
  std::string rest = address.substr(m_publisherBase.size());
  // A share or path written with backslashes takes the document's name the same way.
  if (UsesBackslashesOnly(mirror)) {
    for (char& c : rest) c = c == '/' ? '\\' : c;
  }
  return mirror + rest;
}

template <typename Attempt>
FetchStatus MirrorFetcher::FromSources(const char* address, const FetchLimits& limits,
                                       Attempt attempt) {
  const std::string original = address != nullptr ? address : "";
  FetchStatus status = FetchStatus::kConnectFailed;
  for (std::size_t index = 0; index <= m_mirrors.size(); ++index) {
    FetchLimits sourceLimits = limits;
    const std::string source = SourceAddress(index, original, sourceLimits);
    if (source.empty()) continue;
    bool touched = false;
    status = attempt(source.c_str(), sourceLimits, touched);
    if (status == FetchStatus::kOk) m_servedBy[original] = index;
    if (status == FetchStatus::kOk || index == m_mirrors.size()) return status;
    m_failed[index] = true;  // one failure is enough: the rest of the run goes elsewhere
    if (touched) return status;
  }
  return status;
}

FetchStatus MirrorFetcher::Fetch(const char* address, const FetchLimits& limits,
                                 std::vector<char>& body) {
  return FromSources(address, limits,
                     [&](const char* source, const FetchLimits& sourceLimits, bool& /*touched*/) {
                       return m_network.Fetch(source, sourceLimits, body);
                     });
}

FetchStatus MirrorFetcher::FetchInto(const char* address, const FetchLimits& limits,
                                     ByteReceiver& receiver) {
  return FromSources(
      address, limits, [&](const char* source, const FetchLimits& sourceLimits, bool& touched) {
        WatchedReceiver watched(receiver);
        const FetchStatus status = m_network.FetchInto(source, sourceLimits, watched);
        touched = watched.Touched();
        return status;
      });
}

FetchStatus MirrorFetcher::FetchFrom(const char* address, const FetchLimits& limits,
                                     const ResumePoint& from, ByteReceiver& receiver) {
  return FromSources(
      address, limits, [&](const char* source, const FetchLimits& sourceLimits, bool& touched) {
        WatchedReceiver watched(receiver);
        const FetchStatus status = m_network.FetchFrom(source, sourceLimits, from, watched);
        touched = watched.Touched();
        return status;
      });
}

bool MirrorFetcher::Distrust(const std::string& address) {
  const auto served = m_servedBy.find(address);
  if (served == m_servedBy.end() || served->second >= m_mirrors.size()) return false;
  m_failed[served->second] = true;
  m_servedBy.erase(served);
  return true;
}
