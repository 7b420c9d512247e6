// All-or-nothing release output: temporary files beside their final names, renamed only once
// every one of them is complete.
#include "publish/release_writer.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include <zlib.h>

#include "publish/manifest_text.h"
#include "update/file_digest.h"
#include "update/hex_decoder.h"
#include "update/release_signature.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kChunkBytes = std::size_t{64} * 1024;
// zlib's window bits for a gzip member (15 + 16) and its default memory level.
constexpr int kGzipWindowBits = 31;
constexpr int kZlibMemoryLevel = 8;

std::string CannotWrite(const fs::path& path, int error) {
  return "cannot write " + path.u8string() + ": " + std::strerror(error);
}

struct StagedFile {
  fs::path temporary;
  fs::path final;
};

// Temporary files (and a directory made for them) that go away unless the release is committed.
class Staging {
 public:
  explicit Staging(fs::path directory) : m_directory(std::move(directory)) {}
  ~Staging() {
    if (!m_committed) Discard();
  }
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;

  bool PrepareDirectory(std::string& error);
  // Opens a new temporary file for `name` into `out`, recorded for removal only once it exists
  // (what was there before is not the tool's to remove). False, with `error` set, on failure.
  bool Open(const std::string& name, std::ofstream& out, std::string& error);
  // Renames every file into place, in the order opened; `partlyInPlace` when a rename failed
  // after others succeeded.
  bool Commit(std::string& error, bool& partlyInPlace);
  // Where the file last opened is being written.
  fs::path LastTemporary() const { return m_files.empty() ? fs::path() : m_files.back().temporary; }

 private:
  void Discard();

  fs::path m_directory;
  std::vector<StagedFile> m_files;
  bool m_createdDirectory = false;
  bool m_committed = false;
};

bool Staging::PrepareDirectory(std::string& error) {
  std::error_code failure;
  if (fs::is_directory(m_directory, failure)) return true;
  m_createdDirectory = fs::create_directory(m_directory, failure);
  if (!m_createdDirectory) {
    error = "cannot create " + m_directory.u8string() + ": " + failure.message();
  }
  return m_createdDirectory;
}

bool Staging::Open(const std::string& name, std::ofstream& out, std::string& error) {
  const StagedFile file{m_directory / fs::u8path("." + name + ".partial"),
                        m_directory / fs::u8path(name)};
  out.open(file.temporary, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = CannotWrite(file.temporary, errno);
    return false;
  }
  m_files.push_back(file);
  return true;
}

bool Staging::Commit(std::string& error, bool& partlyInPlace) {
  for (const StagedFile& file : m_files) {
    std::error_code failure;
    fs::rename(file.temporary, file.final, failure);
    if (failure) {
      error = "cannot move " + file.temporary.u8string() + " to " + file.final.u8string() + ": " +
              failure.message();
      return false;
    }
    partlyInPlace = true;
  }
  m_committed = true;
  return true;
}

void Staging::Discard() {
  std::error_code ignored;
  for (const StagedFile& file : m_files) fs::remove(file.temporary, ignored);
  if (m_createdDirectory) fs::remove(m_directory, ignored);
}

// Copies the source as hexadecimal text between the document's head and tail, a chunk at a time.
bool EncodeSource(const ReleaseFile& file, std::ofstream& out, std::string& error) {
  std::ifstream in(fs::u8path(file.source), std::ios::binary);
  if (!in) {
    error = "cannot read " + file.source + ": " + std::strerror(errno);
    return false;
  }
  std::vector<char> chunk(kChunkBytes);
  std::vector<char> digits(2 * kChunkBytes);
  std::uint64_t total = 0;
  Sha256 hash;
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    const std::size_t got = static_cast<std::size_t>(in.gcount());
    EncodeHex(reinterpret_cast<const unsigned char*>(chunk.data()), got, digits.data());
    out.write(digits.data(), static_cast<std::streamsize>(2 * got));
    hash.Update(chunk.data(), got);
    total += got;
  }
  if (in.bad()) {
    error = "cannot read " + file.source;
    return false;
  }
  Sha256Digest digest{};
  // The limit and the digest in the manifest were made from the file as it was planned.
  if (total != file.size ||
      (!file.digest.empty() && (!hash.Final(digest) || FormatFileDigest(digest) != file.digest))) {
    error = file.source + " changed while it was being published";
    return false;
  }
  return true;
}

// The patch's document: its bytes, already checked against the file, as hexadecimal text.
bool WritePatchDocument(const ReleaseFile& file, Staging& staging, std::string& error) {
  std::ofstream out;
  if (!staging.Open(file.patchDocumentName, out, error)) return false;
  std::vector<char> digits(2 * file.patch.size());
  EncodeHex(reinterpret_cast<const unsigned char*>(file.patch.data()), file.patch.size(),
            digits.data());
  out << FileDocumentHead();
  out.write(digits.data(), static_cast<std::streamsize>(digits.size()));
  out << FileDocumentTail();
  out.close();
  if (!out) error = "cannot write " + file.patchDocumentName + ": " + std::strerror(errno);
  return static_cast<bool>(out);
}

bool WriteDocument(const ReleaseFile& file, Staging& staging, std::string& error) {
  std::ofstream out;
  if (!staging.Open(file.documentName, out, error)) return false;
  out << FileDocumentHead();
  if (!EncodeSource(file, out, error)) return false;
  out << FileDocumentTail();
  out.close();
  if (!out) {
    error = "cannot write the file document of " + file.source + ": " + std::strerror(errno);
  }
  return static_cast<bool>(out);
}

// Writes the gzip form of the staged file `from` as the staged file `name`, a chunk at a time.
// `from` is a copy on purpose: it names a temporary that staging.Open may move in memory.
bool WriteGzipCopy(fs::path from,  // NOLINT(performance-unnecessary-value-param)
                   const std::string& name, Staging& staging, std::string& error) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out;
  if (!in || !staging.Open(name, out, error)) {
    if (error.empty()) error = "cannot read " + from.u8string();
    return false;
  }
  z_stream stream = {};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, kGzipWindowBits, kZlibMemoryLevel,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    error = "cannot compress " + name;
    return false;
  }
  std::vector<char> chunk(kChunkBytes);
  std::vector<char> packed(kChunkBytes);
  int result = Z_OK;
  do {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    stream.next_in = reinterpret_cast<Bytef*>(chunk.data());
    stream.avail_in = static_cast<uInt>(in.gcount());
    const int flush = in ? Z_NO_FLUSH : Z_FINISH;
    do {
      stream.next_out = reinterpret_cast<Bytef*>(packed.data());
      stream.avail_out = static_cast<uInt>(packed.size());
      result = deflate(&stream, flush);
      out.write(packed.data(), static_cast<std::streamsize>(packed.size() - stream.avail_out));
    } while (stream.avail_out == 0);
  } while (result != Z_STREAM_END && !in.bad());
  deflateEnd(&stream);
  out.close();
  if (result != Z_STREAM_END || !out) error = "cannot write " + name;
  return result == Z_STREAM_END && static_cast<bool>(out);
}

bool WriteText(const std::string& text, const std::string& name, Staging& staging,
               std::string& error) {
  std::ofstream out;
  if (!staging.Open(name, out, error)) return false;
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) error = "cannot write " + name + ": " + std::strerror(errno);
  return static_cast<bool>(out);
}

}  // namespace

std::string WriteRelease(const Release& release, const std::string& manifestText,
                         const std::string& signatureText, bool& partlyInPlace) {
  partlyInPlace = false;
  Staging staging(fs::u8path(release.outDir));
  std::string error;
  if (!staging.PrepareDirectory(error)) return error;
  for (const ReleaseFile& file : release.files) {
    if (!WriteDocument(file, staging, error)) return error;
    if (release.gzip &&
        !WriteGzipCopy(staging.LastTemporary(), file.documentName + ".gz", staging, error)) {
      return error;
    }
    if (file.patch.empty()) continue;
    if (!WritePatchDocument(file, staging, error)) return error;
    if (release.gzip &&
        !WriteGzipCopy(staging.LastTemporary(), file.patchDocumentName + ".gz", staging, error)) {
      return error;
    }
  }
  if (!signatureText.empty() &&
      !WriteText(signatureText, release.manifestName + kSignatureSuffix, staging, error)) {
    return error;
  }
  if (!WriteText(manifestText, release.manifestName, staging, error)) return error;
  if (release.gzip &&
      !WriteGzipCopy(staging.LastTemporary(), release.manifestName + ".gz", staging, error)) {
    return error;
  }
  if (!staging.Commit(error, partlyInPlace)) return error;
  return std::string();
}
