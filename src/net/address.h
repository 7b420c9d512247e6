// The address rules shared by the updater and the release tool: which kind of address a text is,
// and so how it is fetched. Locale-free and portable.
#pragma once

#include <cstddef>
#include <string>

enum class AddressKind {
  kEmpty,        // null or empty
  kHttp,         // http://
  kHttps,        // https://
  kFileUrl,      // file:
  kLocalPath,    // no scheme: a path on disk (a drive letter is not a scheme)
  kOtherScheme,  // a scheme the updater never fetches
};

// Classifies `address` by its scheme, compared without regard to case.
AddressKind ClassifyAddress(const char* address);

// Length of the scheme of `address` (before its colon): two or more letters, digits, "+", "-" or
// ".", starting with a letter. 0 when it has none; one letter before a colon is a Windows drive.
std::size_t SchemeLength(const char* address);

// `text` as one value of a URL's query: every byte but the unreserved letters, digits, "-", ".",
// "_" and "~" percent-encoded (RFC 3986), so "&", "=", "+" and spaces keep their meaning.
std::string EncodeQueryValue(const std::string& text);
// The reverse: "%XX" becomes its byte and "+" a space (as HTML forms encode one); a "%" not
// followed by two hexadecimal digits stays as it is.
std::string DecodeQueryValue(const std::string& text);

// True for the kinds fetched over the network.
inline bool IsHttpKind(AddressKind kind) {
  return kind == AddressKind::kHttp || kind == AddressKind::kHttps;
}
