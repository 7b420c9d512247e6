// The vocabulary of update manifests and file documents: element names and numbered-name
// patterns, shared by the updater and the release tool. Names only; sizes are in manifest_limits.h.
#pragma once

#include <cstddef>

// Application manifest.
extern const char kVersionElement[];         // "version"
extern const char kComponentCountElement[];  // "componentes"
extern const char kFileSizeElement[];        // "tamfichero" (also a file entry's size limit)
extern const char kComponentSizeStem[];      // "tamcomp", numbered "tamcomp%d"
extern const char kComponentUrlStem[];       // "urlcomp", numbered "urlcomp%d"
extern const char kComponentDestStem[];      // "destcomp", numbered "destcomp%d"
extern const char kDownloadUrlElement[];     // "urldescarga" (also a file entry's address)
// Optional digests of an application release's files (see update/file_digest.h), in the form of
// a file entry's `firma`: "firmacompN" for component N, "firmadescarga" for the main executable.
extern const char kComponentDigestStem[];  // "firmacomp", numbered "firmacomp%d"
extern const char kMainDigestElement[];    // "firmadescarga"

// Library manifest.
extern const char kLibraryElement[];         // "actLibreria"
extern const char kLibraryVersionElement[];  // "versionLib"
extern const char kExtraFileCountElement[];  // "fichAdicionales"
extern const char kExtraFileStem[];          // "fichAdic", numbered "fichAdic%d"
extern const char kActiveXElement[];         // "actActiveX"

// Either manifest: the share of tills, 0 to 100, that take the offered version now (absent: all).
extern const char kRolloutElement[];  // "porcentajeDespliegue"

// File entry fields (besides tamfichero and urldescarga).
extern const char kDestinationElement[];  // "destFichero"
extern const char kSignatureElement[];    // "firma"

// File document.
extern const char kFileContentElement[];  // "fichero"

// Optional patch of a file (delta releases, see update/patch_offer.h): the patch document's
// address, the S256 digest of the file it applies to and that of the file it makes. In a file
// entry (library releases) as children; in an application manifest numbered per component and
// suffixed for the main executable.
extern const char kPatchUrlElement[];           // "urlparche"
extern const char kPatchBaseElement[];          // "firmabase"
extern const char kPatchResultElement[];        // "firmaresultado"
extern const char kComponentPatchUrlStem[];     // "urlparchecomp", numbered
extern const char kComponentPatchBaseStem[];    // "firmabasecomp", numbered
extern const char kComponentPatchResultStem[];  // "firmaresultadocomp", numbered
extern const char kMainPatchUrlElement[];       // "urlparchedescarga"
extern const char kMainPatchBaseElement[];      // "firmabasedescarga"
extern const char kMainPatchResultElement[];    // "firmaresultadodescarga"

// Forms a numbered element name: `stem` followed by `number` in decimal ("urlcomp" 10 ->
// "urlcomp10"). False when it does not fit `bufferSize` bytes.
bool FormatNumberedName(char* buffer, std::size_t bufferSize, const char* stem, int number);
