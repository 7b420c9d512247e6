// The patch-or-full choice of each staged document and the rebuilt document; see delta_fetcher.h.
#include "update/delta_fetcher.h"

#include <chrono>
#include <string>

#include "update/delta_patch.h"
#include "update/file_content_stream.h"
#include "update/hex_decoder.h"
#include "update/release_stage.h"

namespace {

constexpr std::size_t kEncodeBytes = std::size_t{32} * 1024;

// The result of a patch as the file document a publisher would have served for it, handed to
// the stage's receiver as it is made.
class RebuiltDocument : public ContentWriter {
 public:
  explicit RebuiltDocument(ByteReceiver& receiver) : m_receiver(receiver) {}

  // The whole document again, with no validator: a part of it is never resumed.
  bool Begin() { return m_receiver.Start(BodyStart{}) && Send(FileDocumentHead()); }
  bool Write(const unsigned char* data, std::size_t length) override {
    while (length > 0) {
      const std::size_t piece = length < kEncodeBytes ? length : kEncodeBytes;
      EncodeHex(data, piece, m_digits);
      if (!m_receiver.Receive(m_digits, 2 * piece)) return false;
      data += piece;
      length -= piece;
    }
    return true;
  }
  bool End() { return Send(FileDocumentTail()); }

 private:
  bool Send(const std::string& text) { return m_receiver.Receive(text.data(), text.size()); }

  ByteReceiver& m_receiver;
  char m_digits[2 * kEncodeBytes];
};

}  // namespace

void PatchOffers::Note(const std::string& document, const std::string& destination,
                       const PatchOffer& offer) {
  if (!offer.Usable()) return;
  std::vector<OfferedPatch>& offers = m_offers[document];
  for (const OfferedPatch& noted : offers) {
    if (noted.destination == destination && noted.offer.address == offer.address) return;
  }
  offers.push_back(OfferedPatch{destination, offer});
}

const std::vector<OfferedPatch>* PatchOffers::Find(const std::string& document) const {
  const auto found = m_offers.find(document);
  return found == m_offers.end() ? nullptr : &found->second;
}

DeltaFetcher::DeltaFetcher(Fetcher& network, const PatchOffers& offers)
    : m_network(network), m_offers(offers) {}

FetchStatus DeltaFetcher::Fetch(const char* address, const FetchLimits& limits,
                                std::vector<char>& body) {
  return m_network.Fetch(address, limits, body);
}

FetchStatus DeltaFetcher::FetchInto(const char* address, const FetchLimits& limits,
                                    ByteReceiver& receiver) {
  return m_network.FetchInto(address, limits, receiver);
}

FetchStatus DeltaFetcher::FetchFrom(const char* address, const FetchLimits& limits,
                                    const ResumePoint& from, ByteReceiver& receiver) {
  // Bytes held of the full document come from an earlier attempt at it: take them up.
  if (address == nullptr || from.offset != 0 || !m_tried.insert(address).second) {
    return m_network.FetchFrom(address, limits, from, receiver);
  }
  const auto started = std::chrono::steady_clock::now();
  if (ApplyOffered(address, limits, receiver)) return FetchStatus::kOk;
  // The full document in the same call, within the time the patch left of this fetch.
  FetchLimits rest = limits;
  if (!FitBudget(rest, started + std::chrono::seconds(limits.totalTimeoutSeconds))) {
    return FetchStatus::kDeadlineExceeded;
  }
  return m_network.FetchFrom(address, rest, from, receiver);
}

bool DeltaFetcher::ApplyOffered(const std::string& address, const FetchLimits& limits,
                                ByteReceiver& receiver) {
  const std::vector<OfferedPatch>* offers = m_offers.Find(address);
  if (offers == nullptr) return false;
  std::vector<unsigned char> base;
  const PatchOffer* chosen = nullptr;
  for (const OfferedPatch& offered : *offers) {
    if (ReadPatchBase(offered.destination.c_str(), offered.offer.baseDigest.c_str(), base) ==
        PatchBaseResult::kMatches) {
      chosen = &offered.offer;
      break;
    }
  }
  if (chosen == nullptr) return false;
  RebuiltDocument document(receiver);
  if (!document.Begin()) return false;
  PatchApplier applier(base, chosen->resultDigest.c_str(), document);
  FileDigestCheck unchecked(nullptr, false);  // the result's digest is the check that counts
  FileContentStream patch(m_network, chosen->address.c_str(), limits, limits.maxBytes, unchecked);
  const bool fetched = patch.Produce(applier);
  return fetched && applier.Finish() == PatchVerdict::kApplied && document.End();
}
