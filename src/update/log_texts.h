// Every text the update engine writes to the log, spelt once: operations, fixed messages and the
// result line. Tools never read these back; the engine reports to its host in types.
#pragma once

#include <string>

#include "update/release_signature.h"

// The log component every engine line carries.
extern const char kLogComponent[];  // "MubaxVardeno"

// Run.
extern const char kOpUpdatingFrom[];        // "ActualizandoVersion desde "
extern const char kOpUpdating[];            // "ActualizandoVersion "
extern const char kTextNoAddressSetting[];  // "Sin URL en Registro. Utiliza url defecto"
extern const char kOpManifestLoadFailed[];  // "Error al recuperar información desde "
extern const char kTextOtherRunUpdating[];  // "Otra actualización en curso. No se actualiza"
extern const char kOpRunEnd[];              // "Actualizando() "
extern const char kTextRunEnd[];            // "IniAppUsuario"
// The run's fetch budget ended before the release was downloaded whole: nothing of it installed.
extern const char
    kTextDownloadContinues[];  // "Descarga incompleta. Se continúa en el próximo arranque"

// The offered version is rolled out to a share of the tills that leaves this one out for now.
extern const char
    kTextNotInRollout[];  // "Versión en despliegue escalonado. Este equipo aún no la instala"

// Signed releases: why a manifest was refused, one text per SignatureCheck.
extern const char kOpManifestRefused[];         // "Manifiesto rechazado"
extern const char kTextSignatureMissing[];      // "Sin fichero de firma"
extern const char kTextSignatureMalformed[];    // "Fichero de firma mal formado"
extern const char kTextSignatureUnknownKey[];   // "Firma de una clave no reconocida"
extern const char kTextSignatureInvalid[];      // "La firma no corresponde al manifiesto"
extern const char kTextSignatureExpired[];      // "Firma caducada"
extern const char kTextSignatureTooFarAhead[];  // "Firma con caducidad a más de diez años"
extern const char
    kTextReleaseFileDigest[];  // "Un fichero no corresponde a su huella S256: no se instala nada"

// Modes.
extern const char kOpModeStart[];              // "ActualizaVersionAplicacion"
extern const char kTextApplicationMode[];      // "Actualizando version modo APLICACION"
extern const char kTextTransparentMode[];      // "Actualizando version modo TRANSPARENTE"
extern const char kOpInstalledVersion[];       // "Versión App"
extern const char kOpOfferedVersion[];         // "Versión Disponible"
extern const char kOpUpdateError[];            // "Error actualizando"
extern const char kTextComponentsError[];      // "Error actualizando componentes"
extern const char kTextMainExecutableError[];  // "Error actualizando AppPrincipal"
extern const char kTextActiveXError[];         // "Error actualizando ActiveX"
extern const char kTextLibraryError[];         // "Error actualizando Librería"
extern const char kOpMainExecutableAddress[];  // "Actualizando AppPrincipal cUrl"

// Result-line operations, one per stage.
extern const char kOpFileUpdated[];            // "Fichero actualizado"
extern const char kOpMainExecutableUpdated[];  // "AppPrincipal actualizada"
extern const char kOpActiveXUpdated[];         // "Fichero de ActiveX actualizado"
extern const char kOpLibraryUpdated[];         // "Fichero de Libreria actualizado"

// Installing one file.
extern const char kOpInstallFile[];         // "ActualizaFichero"
extern const char kTextNoContentElement[];  // "No existe elemento fichero"
extern const char kTextEmptyContent[];      // "Tamaño de fichero vacío"
extern const char kOpContentAllocation[];   // "Puntero cContenido nulo"
extern const char kTextNull[];              // "NULL"
extern const char kTextWrittenInPlace[];    // "Fichero escrito sobre el existente, sin reemplazo"
extern const char kTextDigestMissing[];     // "Fichero sin huella S256: no se instala"
extern const char kTextDigestMismatch[];    // "Huella S256 distinta: no se instala"

// The log text of a refused signature check (kTextSignatureMissing ...).
const char* SignatureRefusalText(SignatureCheck check);

// Destination text shown for the main executable, which goes to the registered path.
extern const char kMainExecutableDestinationText[];  // "path app"

// The line logged after every installation attempt, "URL Act [%s] Fich Dest [%s] %d" with the
// address, the destination and the result, formed whole whatever the lengths.
std::string FormatResultLine(const char* address, const char* destination, int result);

// Watching a release's first start (setting vigilarArranque) and going back from a failed one.
extern const char kOpHeldVersion[];       // "Versión retenida"
extern const char kOpStartWatch[];        // "VigilarArranque"
extern const char kTextStartGood[];       // "Arranque correcto. Se borra la versión anterior"
extern const char kOpRevert[];            // "Vuelta a la versión anterior"
extern const char kTextStartExited[];     // "La aplicación terminó antes de tomar su mutex"
extern const char kTextStartNeverHeld[];  // "La aplicación no tomó su mutex en la vigilancia"
extern const char kTextStartLetGo[];      // "La aplicación soltó su mutex antes de tiempo"
extern const char kTextKeepFailed[];  // "No se pudo guardar la versión anterior. No se instala"
extern const char
    kTextEarlierRunUnfinished[];  // "Actualización anterior interrumpida. Se completa"
extern const char
    kTextRevertUnfinished[];  // "No se pudo completar. Se reintenta en la próxima ejecución"
