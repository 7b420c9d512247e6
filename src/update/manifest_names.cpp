// The manifest vocabulary, spelt once.
#include "update/manifest_names.h"

#include "common/fixed_buffer.h"

const char kVersionElement[] = "version";
const char kComponentCountElement[] = "componentes";
const char kFileSizeElement[] = "tamfichero";
const char kComponentSizeStem[] = "tamcomp";
const char kComponentUrlStem[] = "urlcomp";
const char kComponentDestStem[] = "destcomp";
const char kDownloadUrlElement[] = "urldescarga";
const char kComponentDigestStem[] = "firmacomp";
const char kMainDigestElement[] = "firmadescarga";

const char kLibraryElement[] = "actLibreria";
const char kLibraryVersionElement[] = "versionLib";
const char kExtraFileCountElement[] = "fichAdicionales";
const char kExtraFileStem[] = "fichAdic";
const char kActiveXElement[] = "actActiveX";

const char kDestinationElement[] = "destFichero";
const char kRolloutElement[] = "porcentajeDespliegue";

const char kSignatureElement[] = "firma";

const char kFileContentElement[] = "fichero";

const char kPatchUrlElement[] = "urlparche";
const char kPatchBaseElement[] = "firmabase";
const char kPatchResultElement[] = "firmaresultado";
const char kComponentPatchUrlStem[] = "urlparchecomp";
const char kComponentPatchBaseStem[] = "firmabasecomp";
const char kComponentPatchResultStem[] = "firmaresultadocomp";
const char kMainPatchUrlElement[] = "urlparchedescarga";
const char kMainPatchBaseElement[] = "firmabasedescarga";
const char kMainPatchResultElement[] = "firmaresultadodescarga";

bool FormatNumberedName(char* buffer, std::size_t bufferSize, const char* stem, int number) {
  return FormatText(buffer, bufferSize, "%s%d", stem, number);
}
