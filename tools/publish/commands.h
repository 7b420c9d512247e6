// The three commands of mubax-publish, each taking its parsed options and returning the process
// exit status (0 success, 1 refused or failed).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "publish/native_text.h"
#include "publish/release_plan.h"
#include "publish/signing.h"

struct VerifyOptions {
  std::string address;           // manifest address or path, UTF-8
  std::string installedVersion;  // as the settings would hold it; empty by default
  std::string appDir;            // optional: where the main application lives on the shop PCs
  std::string publicKeyFile;     // optional: check signature and digests against these keys
  std::vector<std::string> previousDirs;  // optional: where the bases of the patches are
};

struct RolloutOptions {
  std::string manifest;  // local path of a published manifest
  int percent = 0;       // the share of tills, 0 to 100
  SigningOptions signing;
};

// Plans, checks and writes an application release; writes nothing when any check fails.
int RunAppCommand(const AppReleaseOptions& options);
// Plans, checks and writes a library release; writes nothing when any check fails.
int RunLibraryCommand(const LibraryReleaseOptions& options);
// Runs the update engine on the manifest with a dry-run installer and reports every file.
// 0 only when a mode runs, at least one file is attempted and every attempted file would install
// (and, with a public key file, the signature is valid and every file matches its digest).
int RunVerifyCommand(const VerifyOptions& options);
// Sets the share of tills a published manifest is offered to (rewriting its gzip copy when there
// is one) and signs it again with the key given; refuses a signed manifest without a key.
int RunRolloutCommand(const RolloutOptions& options);

inline void PrintLine(const std::string& line) { WriteConsoleText(stdout, line + "\n"); }
inline void PrintError(const std::string& line) {
  WriteConsoleText(stderr, "mubax-publish: " + line + "\n");
}
