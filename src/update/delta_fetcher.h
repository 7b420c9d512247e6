// Delta releases, the staging side: the stage asks for a file's document as always, and where
// the manifest offers a patch whose base is the file the till has, this fetcher fetches the patch
// instead, applies it and hands the stage the full document rebuilt from the result. Anything
// that goes wrong with the patch sends the stage the full document from the network in the same
// call, and a document's patch is tried once per run. Portable.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "net/fetch.h"
#include "update/patch_offer.h"

// One file a document goes to, with the patch offered for it.
struct OfferedPatch {
  std::string destination;  // the file's path on this till: where its base is looked for
  PatchOffer offer;
};

// The usable patch offers of a release, by the address of the full document they stand for.
class PatchOffers {
 public:
  // Notes that the file at `destination` takes the document at `document`; an offer that is not
  // usable, or noted before, is left out.
  void Note(const std::string& document, const std::string& destination, const PatchOffer& offer);
  // The offers for `document`, in the order noted; null when none.
  const std::vector<OfferedPatch>* Find(const std::string& document) const;

 private:
  std::map<std::string, std::vector<OfferedPatch>> m_offers;
};

class DeltaFetcher : public Fetcher {
 public:
  // `network` serves the patch documents and the full ones; both arguments must outlive this.
  DeltaFetcher(Fetcher& network, const PatchOffers& offers);

  FetchStatus Fetch(const char* address, const FetchLimits& limits,
                    std::vector<char>& body) override;
  FetchStatus FetchInto(const char* address, const FetchLimits& limits,
                        ByteReceiver& receiver) override;
  // From the start of a document with an offer not tried yet this run: its patch, when the file
  // at one of its destinations has the base digest and the result has its digest; else, as a
  // resumed document always, `network`'s answer, within what is left of `limits`' time.
  FetchStatus FetchFrom(const char* address, const FetchLimits& limits, const ResumePoint& from,
                        ByteReceiver& receiver) override;

 private:
  // True when the receiver was given the whole document rebuilt from a patch.
  bool ApplyOffered(const std::string& address, const FetchLimits& limits, ByteReceiver& receiver);

  Fetcher& m_network;
  const PatchOffers& m_offers;
  std::set<std::string> m_tried;
};
