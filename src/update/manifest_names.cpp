// The manifest vocabulary, spelt once.
#include "update/manifest_names.h"

#include <cstdio>
#include <cstring>

#include "common/fixed_buffer.h"

const char kVersionElement[] = "version";
const char kComponentCountElement[] = "componentes";
const char kFileSizeElement[] = "tamfichero";
const char kComponentSizeStem[] = "tamcomp";
const char kComponentUrlStem[] = "urlcomp";
const char kComponentDestStem[] = "destcomp";
const char kDownloadUrlElement[] = "urldescarga";

const char kLibraryElement[] = "actLibreria";
const char kLibraryVersionElement[] = "versionLib";
const char kExtraFileCountElement[] = "fichAdicionales";
const char kExtraFileStem[] = "fichAdic";
const char kActiveXElement[] = "actActiveX";

const char kDestinationElement[] = "destFichero";
const char kSignatureElement[] = "firma";

const char kFileContentElement[] = "fichero";

const char kMainExecutableDestinationText[] = "path app";

bool FormatNumberedName(char* buffer, std::size_t bufferSize, const char* stem, int number) {
  return FormatText(buffer, bufferSize, "%s%d", stem, number);
}

std::string FormatResultLine(const char* address, const char* destination, int result) {
  std::string line(std::strlen(address) + std::strlen(destination) + 64, '\0');
  const int length = std::snprintf(&line[0], line.size(), "URL Act [%s] Fich Dest [%s] %d", address,
                                   destination, result);
  line.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return line;
}
