// The back ends behind NetworkFetcher: private to src/net, never included from outside it.
#pragma once

#include <vector>

#include "net/fetch.h"

// The platform's HTTP(S) client (fetch_wininet.cpp | fetch_curl.cpp); http and https only.
FetchStatus FetchHttp(const char* url, const FetchLimits& limits, std::vector<char>& body);

// Reads a local file (already converted from a file: address when it was one).
FetchStatus FetchLocalFile(const char* path, const FetchLimits& limits, std::vector<char>& body);
