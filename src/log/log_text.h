// Texts from outside the program (settings, manifests) as the log stores them. The log is written
// in Windows-1252 on every target, the encoding of the program's own texts: on Windows narrow
// texts already are (log_text_ansi.cpp); on POSIX they are UTF-8 and converted
// (log_text_iconv.cpp).
#pragma once

#include <string>

// Returns `text`, a narrow text of the target, in Windows-1252. A character Windows-1252 cannot
// hold, and on POSIX each byte that does not belong to a UTF-8 character, becomes '?'. A null
// `text` gives the empty text. Only for writing to the log: file names and addresses are used as
// they came.
std::string ToLogEncoding(const char* text);
