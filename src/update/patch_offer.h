// Delta releases, the manifest side: the patch a manifest offers for one of its files, read
// where each manifest shape keeps it. A manifest without one offers none, and the file travels
// whole as before. Portable.
#pragma once

#include <string>

class XmlDocument;
class XmlNode;

struct PatchOffer {
  std::string address;       // the patch document: a file document of the patch's bytes
  std::string baseDigest;    // "S256:..." of the file it applies to
  std::string resultDigest;  // "S256:..." of the file it makes
  // An address and both digests of the S256 form: anything less offers no patch.
  bool Usable() const;
};

// Component `number` of an application manifest (urlparchecompN, firmabasecompN,
// firmaresultadocompN); a text missing or too long to read leaves its field empty.
PatchOffer ReadComponentPatchOffer(const XmlDocument& manifest, int number);
// The main executable of an application manifest (urlparchedescarga, ...).
PatchOffer ReadMainPatchOffer(const XmlDocument& manifest);
// A file entry of a library manifest (its children urlparche, firmabase, firmaresultado).
PatchOffer ReadEntryPatchOffer(const XmlNode& entry);
