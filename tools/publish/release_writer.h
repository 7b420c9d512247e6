// Writing a checked release into its output directory, all or nothing.
#pragma once

#include <string>

#include "publish/release_plan.h"

// Writes the file document of every file in `release`, then `manifestText` as its manifest, into
// the release's output directory, which is created when missing (its parent must exist). Every
// document goes to a temporary file first; only when all are written are they renamed into place,
// file documents before the manifest, so a server never offers a manifest whose documents are
// missing. With `release.gzip` each document and the manifest also get a gzip copy named with
// ".gz" added, staged and renamed with the document it copies. Returns the empty string on success.
// Otherwise returns why, having removed what it wrote (and the directory when it created it),
// unless a rename failed, which can leave the documents renamed before it in place, never the
// manifest; `partlyInPlace` then says so. `signatureText`, when not empty, is written as the
// manifest's name + ".sig" after the documents and before the manifest. A file whose digest is set
// must still match it as it is encoded.
std::string WriteRelease(const Release& release, const std::string& manifestText,
                         const std::string& signatureText, bool& partlyInPlace);
