// Log texts on POSIX: UTF-8 converted to Windows-1252 with the C library's iconv (POSIX).
#include <errno.h>
#include <iconv.h>

#include <cstring>

#include "common/posix_handles.h"
#include "log/log_text.h"

namespace {

constexpr char kLogEncoding[] = "WINDOWS-1252";
constexpr char kTextEncoding[] = "UTF-8";
constexpr char kOneCharacterEncoding[] = "UTF-32LE";
constexpr std::size_t kLongestUtf8Character = 4;
constexpr std::size_t kUtf32CharacterBytes = 4;
constexpr char kReplacement = '?';
constexpr std::size_t kChunkBytes = 256;

// How many bytes the UTF-8 character at `at` takes; 0 when the bytes there are not one. Lets a
// character Windows-1252 lacks be replaced whole, where a stray byte is replaced alone.
std::size_t CharacterLength(const char* at, std::size_t left) {
  UniqueIconv decoder(iconv_open(kOneCharacterEncoding, kTextEncoding));
  if (decoder.Get() == IconvTraits::Invalid()) return 0;
  char* in = const_cast<char*>(at);
  std::size_t inLeft = left < kLongestUtf8Character ? left : kLongestUtf8Character;
  char wide[kUtf32CharacterBytes];
  char* out = wide;
  std::size_t outLeft = sizeof(wide);
  // Room for one character only: a whole character stops the call with E2BIG.
  iconv(decoder.Get(), &in, &inLeft, &out, &outLeft);
  return outLeft == 0 ? static_cast<std::size_t>(in - at) : 0;
}

}  // namespace

std::string ToLogEncoding(const char* text) {
  if (text == nullptr) return std::string();
  std::string converted;
  UniqueIconv encoder(iconv_open(kLogEncoding, kTextEncoding));
  if (encoder.Get() == IconvTraits::Invalid()) return text;
  char* in = const_cast<char*>(text);
  std::size_t inLeft = std::strlen(text);
  while (inLeft > 0) {
    char chunk[kChunkBytes];
    char* out = chunk;
    std::size_t outLeft = sizeof(chunk);
    const std::size_t done = iconv(encoder.Get(), &in, &inLeft, &out, &outLeft);
    const int error = errno;
    converted.append(chunk, static_cast<std::size_t>(out - chunk));
    if (done != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    // A character the log's encoding lacks, or bytes that are not UTF-8 (EILSEQ, or EINVAL for
    // a character cut short at the end).
    const std::size_t skipped = CharacterLength(in, inLeft);
    const std::size_t step = skipped > 0 ? skipped : 1;
    converted += kReplacement;
    in += step;
    inLeft -= step;
  }
  return converted;
}
