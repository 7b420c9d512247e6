// The rollout command: sets the share of tills a published manifest is offered to, and signs it
// again when the release is signed. Everything is checked before anything is written.
#include <zlib.h>

#include <filesystem>
#include <string>

#include "publish/commands.h"
#include "publish/signing.h"
#include "update/manifest_limits.h"
#include "update/manifest_names.h"
#include "update/release_signature.h"
#include "update/rollout.h"
#include "xml/xml_document.h"

namespace fs = std::filesystem;

namespace {

const char kGzipSuffix[] = ".gz";
const char kGzipWriteMode[] = "wb9";

// The offered version of a manifest's text; false when the text is not a manifest.
bool ReadManifestVersion(const std::string& text, std::string& version) {
  XmlDocument manifest;
  if (!manifest.Load(text.c_str(), false)) return false;
  char buffer[kManifestTextBufferSize] = {};
  if (manifest.GetValue(kVersionElement, buffer, sizeof(buffer)) == -1 &&
      manifest.GetValue("actLibreria/versionLib", buffer, sizeof(buffer)) == -1) {
    return false;
  }
  version = buffer;
  return true;
}

// The share the manifest's text offers, as the updater reads it; -1 when the text has no element.
int ReadSharePercent(const std::string& text) {
  XmlDocument manifest;
  char buffer[kManifestTextBufferSize] = {};
  int percent = -1;
  if (manifest.Load(text.c_str(), false) &&
      manifest.GetValue(kRolloutElement, buffer, sizeof(buffer)) != -1) {
    ParseRolloutPercent(buffer, percent);
  }
  return percent;
}

// Sets the element in the manifest's own bytes, so every other byte stays as published and the
// change reads as one line in a diff; the result is then read back by the XML parser, which must
// agree (SetManifestPercent).
bool SpliceRolloutElement(std::string& text, int percent) {
  const std::string open = std::string("<") + kRolloutElement + ">";
  const std::string close = std::string("</") + kRolloutElement + ">";
  const std::string element = open + std::to_string(percent) + close;
  const std::size_t at = text.find(open);
  if (at != std::string::npos) {
    const std::size_t end = text.find(close, at);
    if (end == std::string::npos) return false;
    text.replace(at, end + close.size() - at, element);
    return true;
  }
  const std::size_t rootEnd = text.rfind("</");
  if (rootEnd == std::string::npos) return false;
  text.insert(rootEnd, "  " + element + "\n");
  return true;
}

std::string SetManifestPercent(std::string& text, int percent) {
  std::string before;
  std::string after;
  if (!ReadManifestVersion(text, before)) return "not an update manifest";
  if (!SpliceRolloutElement(text, percent) || !ReadManifestVersion(text, after) ||
      after != before || ReadSharePercent(text) != percent) {
    return "the manifest is not laid out as mubax-publish writes it: set " +
           std::string(kRolloutElement) + " by hand and sign it again";
  }
  return std::string();
}

// Writes the gzip copy through a temporary file renamed over the old copy.
std::string ReplaceGzipCopy(const std::string& path, const std::string& text) {
  const fs::path final = fs::u8path(path);
  const fs::path temporary = final.parent_path() / ("." + final.filename().u8string() + ".partial");
  gzFile out = gzopen(temporary.u8string().c_str(), kGzipWriteMode);
  const bool written =
      out != nullptr && gzwrite(out, text.data(), static_cast<unsigned>(text.size())) ==
                            static_cast<int>(text.size());
  const bool closed = out != nullptr && gzclose(out) == Z_OK;
  std::error_code failure;
  if (written && closed) fs::rename(temporary, final, failure);
  if (!written || !closed || failure) {
    fs::remove(temporary, failure);
    return "cannot write " + path;
  }
  return std::string();
}

std::string CheckSigning(const RolloutOptions& options, P256PrivateKey& key) {
  std::error_code ignored;
  std::string error;
  if (options.signing.keyFile.empty()) {
    if (fs::exists(fs::u8path(options.manifest + kSignatureSuffix), ignored)) {
      return "the manifest is signed: give --sign-key, or its signature would no longer match";
    }
    return std::string();
  }
  ReadPrivateKeyFile(options.signing.keyFile, key, error);
  return error;
}

}  // namespace

int RunRolloutCommand(const RolloutOptions& options) {
  std::string text;
  std::string error;
  if (!ReadWholeFile(options.manifest, text, error)) {
    PrintError(error);
    return 1;
  }
  P256PrivateKey key{};
  error = CheckSigning(options, key);
  if (error.empty()) error = SetManifestPercent(text, options.percent);
  std::string signature;
  if (error.empty() && !options.signing.keyFile.empty()) {
    signature = SignManifestText(key, options.signing.lifetimeSeconds, text, error);
  }
  if (!error.empty()) {
    PrintError(error);
    return 1;
  }
  // The manifest first: until its signature follows, a till refuses the new text and installs
  // nothing, which is the safe way round for a share that was just lowered.
  error = ReplaceWholeFile(options.manifest, text);
  if (error.empty() && !signature.empty()) {
    error = ReplaceWholeFile(options.manifest + kSignatureSuffix, signature);
  }
  std::error_code ignored;
  const std::string gzipCopy = options.manifest + kGzipSuffix;
  if (error.empty() && fs::exists(fs::u8path(gzipCopy), ignored)) {
    error = ReplaceGzipCopy(gzipCopy, text);
  }
  if (!error.empty()) {
    PrintError(error);
    return 1;
  }
  PrintLine(options.manifest + ": offered to " + std::to_string(options.percent) +
            " % of the tills" + (options.percent == 0 ? " (halted)" : "") +
            (signature.empty() ? "" : ", signed again"));
  return 0;
}
