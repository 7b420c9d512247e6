// Manifests and file documents as text, named through the updater's own vocabulary so the two
// programs cannot drift apart.
#include "publish/manifest_text.h"

#include "publish/release_text.h"
#include "update/manifest_limits.h"
#include "update/manifest_names.h"

namespace {

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
// Free for the updater, as long as no top-level element bears the same name.
const char kManifestRoot[] = "actualizacion";

std::string Element(const std::string& name, const std::string& text, const char* indent) {
  return indent + ("<" + name + ">") + EscapeXmlText(text) + "</" + name + ">\n";
}

std::string Numbered(const char* stem, int number) {
  char name[kManifestTextBufferSize];
  return FormatNumberedName(name, sizeof(name), stem, number) ? name : std::string();
}

// A file's patch offer, under the names its manifest shape gives them; nothing without a patch.
std::string PatchElements(const ReleaseFile& file, const std::string& urlName,
                          const std::string& baseName, const std::string& resultName,
                          const char* indent) {
  if (file.patch.empty()) return std::string();
  return Element(urlName, file.patchAddress, indent) +
         Element(baseName, file.patchBaseDigest, indent) +
         Element(resultName, file.patchResultDigest, indent);
}

std::string ApplicationBody(const Release& release) {
  const ReleaseFile& main = release.files.back();
  const int components = static_cast<int>(release.files.size()) - 1;
  std::string body = Element(kVersionElement, release.version, "  ");
  body += Element(kComponentCountElement, std::to_string(components), "  ");
  body += Element(kFileSizeElement, std::to_string(main.limit), "  ");
  for (int i = 0; i < components; ++i) {
    const ReleaseFile& file = release.files[static_cast<std::size_t>(i)];
    body += Element(Numbered(kComponentSizeStem, file.number), std::to_string(file.limit), "  ");
    body += Element(Numbered(kComponentUrlStem, file.number), file.address, "  ");
    body += Element(Numbered(kComponentDestStem, file.number), file.destination, "  ");
    if (!file.digest.empty()) {
      body += Element(Numbered(kComponentDigestStem, file.number), file.digest, "  ");
    }
    body += PatchElements(file, Numbered(kComponentPatchUrlStem, file.number),
                          Numbered(kComponentPatchBaseStem, file.number),
                          Numbered(kComponentPatchResultStem, file.number), "  ");
  }
  body += Element(kDownloadUrlElement, main.address, "  ");
  if (!main.digest.empty()) body += Element(kMainDigestElement, main.digest, "  ");
  body += PatchElements(main, kMainPatchUrlElement, kMainPatchBaseElement, kMainPatchResultElement,
                        "  ");
  return body;
}

// A file entry's fields; `extra` goes first (the library's versionLib).
std::string FileEntry(const std::string& name, const ReleaseFile& file, const std::string& extra) {
  return "  <" + name + ">\n" + extra +
         Element(kFileSizeElement, std::to_string(file.limit), "    ") +
         Element(kDownloadUrlElement, file.address, "    ") +
         Element(kDestinationElement, file.destination, "    ") +
         (file.digest.empty() ? std::string() : Element(kSignatureElement, file.digest, "    ")) +
         PatchElements(file, kPatchUrlElement, kPatchBaseElement, kPatchResultElement, "    ") +
         "  </" + name + ">\n";
}

std::string LibraryBody(const Release& release) {
  int extras = 0;
  for (const ReleaseFile& file : release.files) extras += file.role == FileStage::kAdditionalFile;
  std::string body = Element(kExtraFileCountElement, std::to_string(extras), "  ");
  for (const ReleaseFile& file : release.files) {
    if (file.role == FileStage::kAdditionalFile) {
      body += FileEntry(Numbered(kExtraFileStem, file.number), file, "");
    } else if (file.role == FileStage::kActiveXFile) {
      body += FileEntry(kActiveXElement, file, "");
    } else if (file.role == FileStage::kLibraryFile) {
      body += FileEntry(kLibraryElement, file,
                        Element(kLibraryVersionElement, release.version, "    "));
    }
  }
  return body;
}

}  // namespace

std::string BuildManifestText(const Release& release) {
  const std::string body = release.library ? LibraryBody(release) : ApplicationBody(release);
  return kDeclaration + ("<" + std::string(kManifestRoot) + ">\n") + body + "</" + kManifestRoot +
         ">\n";
}
