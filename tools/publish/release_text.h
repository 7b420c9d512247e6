// Texts a release puts into manifests, checked as the updater will read them: in Windows-1252 on
// Windows and UTF-8 on Linux, in fixed buffers, inside XML; and the forms of addresses.
#pragma once

#include <cstddef>
#include <string>

// Converts UTF-8 `text` to Windows-1252 in `out`. Returns false, leaving `out` unspecified, when
// `text` is not valid UTF-8 or holds a character that Windows-1252 has no byte for.
bool Utf8ToWindows1252(const std::string& text, std::string& out);

// Bytes `text` (UTF-8) takes in the updater's buffers: the larger of its UTF-8 and Windows-1252
// forms, since one release is read on both targets. Texts Windows-1252 cannot hold count whole.
std::size_t UpdaterTextLength(const std::string& text);

// Why `text` cannot travel in a manifest and be read back unchanged by the updater on both
// targets, or the empty string when it can. Refused: an empty text, invalid UTF-8, characters
// outside Windows-1252, control characters, spaces at either end (the Windows reader drops them),
// more than `maxBytes` bytes as UpdaterTextLength counts them.
std::string CheckManifestText(const std::string& text, std::size_t maxBytes);

// `text` as XML character data: "&", "<" and ">" escaped, nothing else changed.
std::string EscapeXmlText(const std::string& text);

// `text` with every byte that a URL may not hold as itself written as %XX; letters, digits, the
// URL delimiters and "%" (an escape already made) stay as they are.
std::string EncodeUrlText(const std::string& text);

// A file name for a release document: `prefix`, then `sourceName` with every character other than
// ASCII letters, digits, ".", "-" and "_" replaced by "_", then ".xml". Any static web server
// serves such a name under the same spelling on every system.
std::string MakeDocumentName(const std::string& prefix, const std::string& sourceName);

// The address of document `name` published under `baseUrl` (http, https or file address, or a
// local directory path). Returns false and sets `error` for a base the updater cannot fetch from.
// A separator is added unless the base ends in one; address bases are percent-encoded.
bool JoinAddress(const std::string& baseUrl, const std::string& name, std::string& address,
                 std::string& error);

// `directory` ending in a directory separator: its own last one, or "\\" when it holds
// backslashes and no slash, else "/". The updater puts components at this text + destination.
std::string WithTrailingSeparator(const std::string& directory);
