// Installing one file: fetch its document, take the hexadecimal text, decode it, hand the bytes
// to the sink. Working memory is sized from the document received, not from the size limit.
#include <algorithm>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "common/app_directory.h"
#include "common/files.h"
#include "common/fixed_buffer.h"
#include "common/settings.h"
#include "update/hex_decoder.h"
#include "update/manifest_names.h"
#include "update/update_engine.h"
#include "xml/xml_document.h"

std::size_t FileDocumentFetchCap(int maxSize) {
  if (maxSize <= 0) return 0;
  // Room for the text of the largest admitted file, twice over for wide encodings, plus the
  // document around it; never more than 2 GiB, as the platform parsers take a 32-bit length.
  const std::uint64_t cap = 4ull * static_cast<std::uint64_t>(maxSize) + 64ull * 1024ull;
  return static_cast<std::size_t>(std::min<std::uint64_t>(cap, 0x7FFFFFFFull));
}

bool ResolveInstallDestination(const char* destination, char* buffer, std::size_t bufferSize) {
  if (bufferSize == 0) return false;
  buffer[0] = '\0';
  if (destination != nullptr)
    return destination[0] != '\0' && CopyText(buffer, bufferSize, destination);
  ReadRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kAppPathValue, buffer, bufferSize);
  return buffer[0] != '\0';
}

int DiskFileSink::WriteFileBytes(const unsigned char* data, std::size_t length,
                                 const char* destination) {
  char path[255];
  if (!ResolveInstallDestination(destination, path, sizeof(path))) return 0;
  // The registered main executable is started right after the run: it must stay runnable.
  const bool mainExecutable = destination == nullptr;
  return ReplaceFileContents(path, data, length, mainExecutable) ? 1 : 0;
}

int DryRunFileSink::WriteFileBytes(const unsigned char* /*data*/, std::size_t length,
                                   const char* destination) {
  if (destination != nullptr && destination[0] == '\0') return 0;
  m_writes.push_back(Write{destination != nullptr ? destination : "", length});
  return 1;
}

void UpdateEngine::Refuse(const char* address, const char* reason) {
  m_host.ReportInstallProblem(address, reason);
}

void UpdateEngine::LogResult(bool loggingFlag, const char* operation, const char* address,
                             const char* destination, int result) {
  m_host.ReportInstallResult(address, destination, result);
  if (!loggingFlag) return;
  // A line that would not fit the usual buffer is still logged whole.
  const std::string line = FormatResultLine(address, destination, result);
  LogOutsideText(loggingFlag, operation, line.c_str());
}

int UpdateEngine::InstallFileWithinLine(const char* address, const char* destination, int maxSize,
                                        const char* signature, bool loggingFlag) {
  const char* shown = destination != nullptr ? destination : kMainExecutableDestinationText;
  // The result line holds 254 bytes; a file whose line cannot be formed whole is not installed.
  const std::size_t lineLength = std::strlen(address) + std::strlen(shown) + kResultLineFixedBytes;
  if (lineLength >= static_cast<std::size_t>(kManifestTextBufferSize)) {
    Refuse(address, "address and destination together are too long for the result line");
    return 0;
  }
  return InstallFile(address, destination, maxSize, signature, loggingFlag);
}

int UpdateEngine::InstallFile(const char* address, const char* destination, int maxSize,
                              const char* /*signature: carried, never checked*/, bool loggingFlag) {
  if (maxSize <= 0) {
    Refuse(address, "size limit is 0 or less");
    return 0;
  }
  std::string text;
  {
    XmlDocument document;
    FetchLimits limits = m_limits;
    limits.maxBytes = FileDocumentFetchCap(maxSize);
    document.SetFetchLimits(limits);
    if (!document.Load(address, true)) {
      const FetchStatus fetch = document.GetLastFetchStatus();
      Refuse(address, fetch != FetchStatus::kOk ? DescribeFetchStatus(fetch)
                                                : "file document is not well-formed XML");
      Log(loggingFlag, "ActualizaFichero", "No existe elemento fichero");
      return 0;
    }
    if (!document.Exists(kFileContentElement)) {
      Refuse(address, "file document has no fichero element");
      Log(loggingFlag, "ActualizaFichero", "No existe elemento fichero");
      return 0;
    }
    // The text must be shorter than twice the limit: a file of maxSize bytes is refused.
    const std::size_t longestText = 2 * static_cast<std::size_t>(maxSize) - 1;
    const long long length = document.GetLongValue(kFileContentElement, text, longestText);
    if (length == -2) {
      Refuse(address, "file is not smaller than its size limit");
      return 0;
    }
    if (length <= 0) {
      Refuse(address, "fichero is empty or not a child of the root");
      Log(loggingFlag, "ActualizaFichero", "Tama\xF1o de fichero vac\xEDo");
      return 0;
    }
  }  // the document goes here, before the decoded copy is made

  std::vector<unsigned char> content;
  try {
    content.resize(text.size() / 2);
  } catch (const std::bad_alloc&) {
    Log(loggingFlag, "Puntero cContenido nulo", "NULL");
    return 0;
  }
  const HexDecoder decoder;
  if (decoder.Decode(content.data(), text.data(), text.size()) != 0) {
    Refuse(address, "fichero is not an even number of hexadecimal digits");
    return 0;
  }
  std::string().swap(text);
  const int written = m_sink.WriteFileBytes(content.data(), content.size(), destination);
  if (written == 0) Refuse(address, "destination cannot be written");
  return written;
}
