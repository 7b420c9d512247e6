// Key files, digests and signature files for the release tool. Everything is checked before
// anything is written, as for the rest of a release.
#include "publish/signing.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "publish/commands.h"
#include "publish/private_file.h"
#include "update/file_digest.h"
#include "publish/release_signing.h"
#include "update/release_signature.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kReadChunkBytes = std::size_t{64} * 1024;
constexpr std::size_t kTimeTextBufferSize = 64;

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  std::ostringstream content;
  if (!in || !(content << in.rdbuf())) {
    error = "cannot read " + path;
    return false;
  }
  text = content.str();
  return true;
}

std::string ReplaceWholeFile(const std::string& path, const std::string& text) {
  const fs::path final = fs::u8path(path);
  const fs::path temporary = final.parent_path() / ("." + final.filename().u8string() + ".partial");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out.flush()) return "cannot write " + temporary.u8string();
  }
  std::error_code failure;
  fs::rename(temporary, final, failure);
  if (failure) {
    fs::remove(temporary, failure);
    return "cannot move " + final.filename().u8string() + " into place at " + path;
  }
  return std::string();
}

bool ReadPrivateKeyFile(const std::string& path, P256PrivateKey& key, std::string& error) {
  std::string text;
  if (!ReadWholeFile(path, text, error)) return false;
  if (!ParsePrivateKeyText(text, key)) {
    error = path + " is not a private key written by mubax-publish keygen";
    return false;
  }
  return true;
}

std::string DigestFile(const std::string& path, std::string& error) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return std::string();
  }
  Sha256 hash;
  std::vector<char> chunk(kReadChunkBytes);
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    hash.Update(chunk.data(), static_cast<std::size_t>(in.gcount()));
  }
  Sha256Digest digest{};
  if (in.bad() || !hash.Final(digest)) {
    error = "cannot read " + path;
    return std::string();
  }
  return FormatFileDigest(digest);
}

std::string SignManifestText(const P256PrivateKey& key, std::int64_t lifetimeSeconds,
                             const std::string& manifest, std::string& error) {
  std::string signature;
  const CryptoStatus status =
      BuildSignatureFile(key, CurrentUnixTime() + lifetimeSeconds, manifest, signature);
  if (status == CryptoStatus::kOk) return signature;
  error = status == CryptoStatus::kBadKey ? "the private key is damaged: its halves do not match"
                                          : "signing failed";
  return std::string();
}

std::string FormatUtc(std::int64_t unixSeconds) {
  const std::time_t time = static_cast<std::time_t>(unixSeconds);
  const std::tm* utc = std::gmtime(&time);
  char text[kTimeTextBufferSize] = {};
  if (utc == nullptr || std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", utc) == 0) {
    return std::to_string(unixSeconds) + " s";
  }
  return text;
}

int RunKeygenCommand(const KeygenOptions& options) {
  const std::string publicPath = options.out + ".pub";
  std::error_code ignored;
  if (fs::exists(fs::u8path(options.out), ignored) || fs::exists(fs::u8path(publicPath), ignored)) {
    PrintError(options.out + " or " + publicPath + " already exists: a key is never replaced");
    return 1;
  }
  P256PrivateKey key{};
  if (GenerateP256(key) != CryptoStatus::kOk) {
    PrintError("key generation failed");
    return 1;
  }
  std::string error = WriteNewPrivateFile(options.out, FormatPrivateKeyText(key));
  if (error.empty()) error = ReplaceWholeFile(publicPath, FormatPublicKeyLine(PublicKeyOf(key)));
  if (!error.empty()) {
    PrintError(error);
    return 1;
  }
  PrintLine("private key: " + options.out + " (keep it secret; only its owner may read it)");
  PrintLine("public key:  " + publicPath + " (key id " + KeyIdOf(PublicKeyOf(key)) +
            "): build the updater with -DMUBAX_RELEASE_KEYS=" + publicPath);
  return 0;
}

int RunSignCommand(const SignOptions& options) {
  P256PrivateKey key{};
  std::string manifest;
  std::string error;
  if (!ReadPrivateKeyFile(options.signing.keyFile, key, error) ||
      !ReadWholeFile(options.manifest, manifest, error)) {
    PrintError(error);
    return 1;
  }
  const std::string signature =
      SignManifestText(key, options.signing.lifetimeSeconds, manifest, error);
  if (signature.empty() ||
      !(error = ReplaceWholeFile(options.manifest + kSignatureSuffix, signature)).empty()) {
    PrintError(error);
    return 1;
  }
  PrintLine("signed " + options.manifest + " with key " + KeyIdOf(PublicKeyOf(key)) + " until " +
            FormatUtc(CurrentUnixTime() + options.signing.lifetimeSeconds));
  return 0;
}
