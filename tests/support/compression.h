// Compressed bodies for the tests of compressed transfer, made with zlib as a server would make
// them. Portable.
#pragma once

#include <string>

// `data` as a gzip member (RFC 1952), what a server sends with Content-Encoding: gzip.
std::string GzipCompress(const std::string& data);
// `data` as a zlib stream (RFC 1950), what Content-Encoding: deflate names.
std::string DeflateCompress(const std::string& data);
