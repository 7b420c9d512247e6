// The till's machine identity: a per-installation text the operating system keeps, read without
// writing anything. Windows: MachineGuid of HKLM\SOFTWARE\Microsoft\Cryptography
// (machine_identity_registry.cpp); POSIX: /etc/machine-id (machine_identity_file.cpp).
#pragma once

#include <string>

// Reads the machine's identity into `identity` (white space at its ends dropped). False, with
// `identity` left untouched, when there is none or it cannot be read.
bool ReadMachineIdentity(std::string& identity);
