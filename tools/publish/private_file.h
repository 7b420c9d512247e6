// Writing a private key file that only its owner can read. POSIX: private_file_posix.cpp (created
// with mode 0600); Windows: private_file_win32.cpp (created new, with the user's default
// protection: keep keys in the user's profile, whose folders other users cannot read).
#pragma once

#include <string>

// Creates `path` (UTF-8), which must not exist yet, holding `text`. Returns the empty string, or
// why it failed (having removed what it created).
std::string WriteNewPrivateFile(const std::string& path, const std::string& text);
