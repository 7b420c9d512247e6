// Signing releases: key files, file digests, the signature beside a manifest, and the keygen and
// sign commands.
#pragma once

#include <cstdint>
#include <string>

#include "crypto/crypto.h"

// How long a signature lasts unless --expires says otherwise.
constexpr std::int64_t kDefaultSignatureLifetimeSeconds = std::int64_t{30} * 24 * 60 * 60;

struct SigningOptions {
  std::string keyFile;  // private key; empty: the release is not signed
  std::int64_t lifetimeSeconds = kDefaultSignatureLifetimeSeconds;
};

struct KeygenOptions {
  std::string out;  // the private key file; the public key goes to out + ".pub"
};

struct SignOptions {
  std::string manifest;  // local path of a published manifest
  SigningOptions signing;
};

// Reads a private key file as keygen writes it. False, with `error` set, when it cannot.
bool ReadPrivateKeyFile(const std::string& path, P256PrivateKey& key, std::string& error);
// The S256 digest text of the file at `path` (UTF-8), read in chunks. Empty, with `error` set,
// when it cannot be read.
std::string DigestFile(const std::string& path, std::string& error);
// The signature file for `manifest`, signed with `key` until now + `lifetimeSeconds`. Empty, with
// `error` set, on failure.
std::string SignManifestText(const P256PrivateKey& key, std::int64_t lifetimeSeconds,
                             const std::string& manifest, std::string& error);
// Reads the whole file at `path` (UTF-8) into `text`. False, with `error` set, when it cannot.
bool ReadWholeFile(const std::string& path, std::string& text, std::string& error);
// Writes `text` to `path` through a temporary file renamed over it, so a server never offers a
// half-written file. Returns the empty string, or why it failed (the old file then stays).
std::string ReplaceWholeFile(const std::string& path, const std::string& text);
// "2025-01-31 12:00:00 UTC".
std::string FormatUtc(std::int64_t unixSeconds);

// Writes a new key pair; refuses to replace an existing key. Exit status.
int RunKeygenCommand(const KeygenOptions& options);
// Re-signs a published manifest with a fresh expiry; the manifest and its documents stay as they
// are. Exit status.
int RunSignCommand(const SignOptions& options);
