// A release before anything is written: every file with its document name, address, destination,
// size and size limit, checked against what the updater can read and hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "publish/signing.h"
#include "update/file_stage.h"

struct ReleaseFile {
  FileStage role = FileStage::kComponent;
  int number = 0;            // components and additional files count from 1; others 0
  std::string source;        // path of the file to publish, as given
  std::string destination;   // UTF-8; empty for the main executable (its registered path)
  std::string documentName;  // file name of its file document in the output directory
  std::string address;       // where the updater fetches that document
  std::uint64_t size = 0;
  std::int64_t limit = 0;  // the manifest's size limit: the file is smaller
  std::string digest;      // "S256:..." of a signed release; empty otherwise
  // Its patch against an earlier release's file (delta releases); all empty when none.
  std::string patch;              // the patch's bytes (a zstd frame)
  std::string patchBase;          // the earlier file it applies to
  std::string patchDocumentName;  // its file document's name in the output directory
  std::string patchAddress;       // where the updater fetches that document
  std::string patchBaseDigest;    // "S256:..." of the earlier file
  std::string patchResultDigest;  // "S256:..." of this file
};

struct Release {
  bool library = false;  // a library manifest, else an application manifest
  std::string version;
  std::string outDir;
  std::string manifestName;
  bool gzip = false;  // also write a gzip copy of every document, named with ".gz" added
  std::vector<ReleaseFile> files;  // in manifest order
};

// What both publish commands take.
struct ReleaseOptions {
  std::string version;
  std::string baseUrl;
  std::string outDir;
  std::string manifestName = "manifest.xml";
  std::string appDir;  // optional: the main application's directory on the shop PCs
  std::int64_t margin = 0;
  SigningOptions signing;  // a key file: digests in the manifest and a signature beside it
  bool gzip = false;
  std::vector<std::string> previousDirs;  // files of earlier releases, for patches
};

struct AppReleaseOptions {
  ReleaseOptions common;
  std::string mainFile;
  std::vector<std::string> components;  // "SRC=DEST" or "SRC"
};

struct LibraryReleaseOptions {
  ReleaseOptions common;
  std::string library;              // "SRC=DEST"
  std::string activex;              // "SRC=DEST" or empty
  std::vector<std::string> extras;  // "SRC=DEST"
};

// Most files one release may carry: far above any real release, far below what makes the
// updater's progress bar or a manifest unwieldy.
constexpr int kMaxReleaseFiles = 1000;

// Builds the release the options describe into `release` and checks it. Returns every problem
// found, one message each; the release may be written only when none is returned.
std::vector<std::string> PlanAppRelease(const AppReleaseOptions& options, Release& release);
std::vector<std::string> PlanLibraryRelease(const LibraryReleaseOptions& options, Release& release);

// "component 2", "main executable", "additional file 1", "ActiveX file", "library file".
std::string DescribeFile(const ReleaseFile& file);
