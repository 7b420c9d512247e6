// The vocabulary of update manifests and file documents: element names, numbered-name patterns
// and the default size limit, shared by the updater and the release tool.
#pragma once

// Application manifest.
extern const char kVersionElement[];         // "version"
extern const char kComponentCountElement[];  // "componentes"
extern const char kFileSizeElement[];        // "tamfichero" (also a file entry's size limit)
extern const char kComponentSizeStem[];      // "tamcomp", numbered "tamcomp%d"
extern const char kComponentUrlStem[];       // "urlcomp", numbered "urlcomp%d"
extern const char kComponentDestStem[];      // "destcomp", numbered "destcomp%d"
extern const char kDownloadUrlElement[];     // "urldescarga" (also a file entry's address)

// Library manifest.
extern const char kLibraryElement[];         // "actLibreria"
extern const char kLibraryVersionElement[];  // "versionLib"
extern const char kExtraFileCountElement[];  // "fichAdicionales"
extern const char kExtraFileStem[];          // "fichAdic", numbered "fichAdic%d"
extern const char kActiveXElement[];         // "actActiveX"

// File entry fields (besides tamfichero and urldescarga).
extern const char kDestinationElement[];  // "destFichero"
extern const char kSignatureElement[];    // "firma"

// File document.
extern const char kFileContentElement[];  // "fichero"

// Size limit of a file entry without a usable tamfichero.
constexpr int kDefaultEntrySizeLimit = 2048576;

// Buffer sizes the updater reads manifest texts into: at most 254 and 49 bytes of text.
constexpr int kManifestTextBufferSize = 255;
constexpr int kSignatureBufferSize = 50;

#include <cstddef>
#include <string>

// Forms a numbered element name: `stem` followed by `number` in decimal ("urlcomp" 10 ->
// "urlcomp10"). False when it does not fit `bufferSize` bytes.
bool FormatNumberedName(char* buffer, std::size_t bufferSize, const char* stem, int number);

// The line logged after every installation attempt, "URL Act [%s] Fich Dest [%s] %d" with the
// address, the destination and the result, formed whole whatever the lengths.
std::string FormatResultLine(const char* address, const char* destination, int result);
// Bytes the result line adds to the address and destination (with a one-digit result).
constexpr int kResultLineFixedBytes = 25;
// Destination text shown for the main executable, which goes to the registered path.
extern const char kMainExecutableDestinationText[];  // "path app"
