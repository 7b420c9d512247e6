// Reading a file's patch offer out of a manifest; see patch_offer.h.
#include "update/patch_offer.h"

#include "update/file_digest.h"
#include "update/manifest_limits.h"
#include "update/manifest_names.h"
#include "xml/xml_document.h"

namespace {

std::string ManifestText(const XmlDocument& manifest, const char* name) {
  char text[kManifestTextBufferSize] = {};
  if (!manifest.Exists(name) || manifest.GetValue(name, text, sizeof(text)) < 0) return {};
  return text;
}

std::string NumberedText(const XmlDocument& manifest, const char* stem, int number) {
  char name[kManifestTextBufferSize];
  return FormatNumberedName(name, sizeof(name), stem, number) ? ManifestText(manifest, name)
                                                              : std::string();
}

std::string EntryText(const XmlNode& entry, const char* name) {
  char text[kManifestTextBufferSize] = {};
  return GetNodeText(entry, name, text, sizeof(text)) >= 0 ? text : std::string();
}

}  // namespace

bool PatchOffer::Usable() const {
  return !address.empty() && IsFileDigestText(baseDigest.c_str()) &&
         IsFileDigestText(resultDigest.c_str());
}

PatchOffer ReadComponentPatchOffer(const XmlDocument& manifest, int number) {
  return PatchOffer{NumberedText(manifest, kComponentPatchUrlStem, number),
                    NumberedText(manifest, kComponentPatchBaseStem, number),
                    NumberedText(manifest, kComponentPatchResultStem, number)};
}

PatchOffer ReadMainPatchOffer(const XmlDocument& manifest) {
  return PatchOffer{ManifestText(manifest, kMainPatchUrlElement),
                    ManifestText(manifest, kMainPatchBaseElement),
                    ManifestText(manifest, kMainPatchResultElement)};
}

PatchOffer ReadEntryPatchOffer(const XmlNode& entry) {
  return PatchOffer{EntryText(entry, kPatchUrlElement), EntryText(entry, kPatchBaseElement),
                    EntryText(entry, kPatchResultElement)};
}
