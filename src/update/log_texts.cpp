// The engine's log texts (Windows-1252 bytes where they hold accented letters).
#include "update/log_texts.h"

#include <cstdio>
#include <cstring>

namespace {

// Room for the result line's fixed words and a result of any int value.
constexpr std::size_t kResultLineRoom = 64;

}  // namespace

const char kLogComponent[] = "MubaxVardeno";

const char kOpUpdatingFrom[] = "ActualizandoVersion desde ";
const char kOpUpdating[] = "ActualizandoVersion ";
const char kTextNoAddressSetting[] = "Sin URL en Registro. Utiliza url defecto";
const char kOpManifestLoadFailed[] = "Error al recuperar informaci\xF3n desde ";
const char kTextOtherRunUpdating[] = "Otra actualizaci\xF3n en curso. No se actualiza";
const char kOpRunEnd[] = "Actualizando() ";
const char kTextRunEnd[] = "IniAppUsuario";
const char kTextDownloadContinues[] =
    "Descarga incompleta. Se contin\xFA"
    "a en el pr\xF3ximo arranque";

const char kOpManifestRefused[] = "Manifiesto rechazado";
const char kTextSignatureMissing[] = "Sin fichero de firma";
const char kTextSignatureMalformed[] = "Fichero de firma mal formado";
const char kTextSignatureUnknownKey[] = "Firma de una clave no reconocida";
const char kTextSignatureInvalid[] = "La firma no corresponde al manifiesto";
const char kTextSignatureExpired[] = "Firma caducada";
const char kTextSignatureTooFarAhead[] = "Firma con caducidad a m\xE1s de diez a\xF1os";
const char kTextReleaseFileDigest[] =
    "Un fichero no corresponde a su huella S256: no se instala nada";

const char kOpModeStart[] = "ActualizaVersionAplicacion";
const char kTextApplicationMode[] = "Actualizando version modo APLICACION";
const char kTextTransparentMode[] = "Actualizando version modo TRANSPARENTE";
const char kOpInstalledVersion[] = "Versi\xF3n App";
const char kOpOfferedVersion[] = "Versi\xF3n Disponible";
const char kOpUpdateError[] = "Error actualizando";
const char kTextComponentsError[] = "Error actualizando componentes";
const char kTextMainExecutableError[] = "Error actualizando AppPrincipal";
const char kTextActiveXError[] = "Error actualizando ActiveX";
const char kTextLibraryError[] =
    "Error actualizando Librer\xED"
    "a";
const char kOpMainExecutableAddress[] = "Actualizando AppPrincipal cUrl";

const char kOpFileUpdated[] = "Fichero actualizado";
const char kOpMainExecutableUpdated[] = "AppPrincipal actualizada";
const char kOpActiveXUpdated[] = "Fichero de ActiveX actualizado";
const char kOpLibraryUpdated[] = "Fichero de Libreria actualizado";

const char kOpInstallFile[] = "ActualizaFichero";
const char kTextNoContentElement[] = "No existe elemento fichero";
const char kTextEmptyContent[] = "Tama\xF1o de fichero vac\xEDo";
const char kOpContentAllocation[] = "Puntero cContenido nulo";
const char kTextNull[] = "NULL";
const char kTextWrittenInPlace[] = "Fichero escrito sobre el existente, sin reemplazo";
const char kTextDigestMissing[] = "Fichero sin huella S256: no se instala";
const char kTextDigestMismatch[] = "Huella S256 distinta: no se instala";

const char* SignatureRefusalText(SignatureCheck check) {
  switch (check) {
    case SignatureCheck::kMissing:
      return kTextSignatureMissing;
    case SignatureCheck::kMalformed:
      return kTextSignatureMalformed;
    case SignatureCheck::kUnknownKey:
      return kTextSignatureUnknownKey;
    case SignatureCheck::kBadSignature:
      return kTextSignatureInvalid;
    case SignatureCheck::kExpired:
      return kTextSignatureExpired;
    case SignatureCheck::kTooFarAhead:
      return kTextSignatureTooFarAhead;
    case SignatureCheck::kFileDigest:
      return kTextReleaseFileDigest;
    case SignatureCheck::kValid:
      break;
  }
  return "";
}

const char kMainExecutableDestinationText[] = "path app";

std::string FormatResultLine(const char* address, const char* destination, int result) {
  std::string line(std::strlen(address) + std::strlen(destination) + kResultLineRoom, '\0');
  const int length = std::snprintf(&line[0], line.size(), "URL Act [%s] Fich Dest [%s] %d", address,
                                   destination, result);
  line.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return line;
}

const char kTextNotInRollout[] =
    "Versi\xF3n en despliegue escalonado. Este equipo a\xFAn no la instala";
const char kOpHeldVersion[] = "Versi\xF3n retenida";
const char kOpStartWatch[] = "VigilarArranque";
const char kTextStartGood[] = "Arranque correcto. Se borra la versi\xF3n anterior";
const char kOpRevert[] = "Vuelta a la versi\xF3n anterior";
const char kTextStartExited[] = "La aplicaci\xF3n termin\xF3 antes de tomar su mutex";
const char kTextStartNeverHeld[] = "La aplicaci\xF3n no tom\xF3 su mutex en la vigilancia";
const char kTextStartLetGo[] = "La aplicaci\xF3n solt\xF3 su mutex antes de tiempo";
const char kTextKeepFailed[] = "No se pudo guardar la versi\xF3n anterior. No se instala";
const char kTextEarlierRunUnfinished[] = "Actualizaci\xF3n anterior interrumpida. Se completa";
const char kTextRevertUnfinished[] =
    "No se pudo completar. Se reintenta en la pr\xF3xima ejecuci\xF3n";
