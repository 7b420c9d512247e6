// The CNG handles and the P-256 key import the crypto service's verifier and the release tool's
// signer share. Windows only; private to src/crypto and tools/publish.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "common/unique_handle.h"

struct AlgorithmTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { BCryptCloseAlgorithmProvider(handle, 0); }
};
struct KeyTraits {
  using Handle = BCRYPT_KEY_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { BCryptDestroyKey(handle); }
};
using UniqueAlgorithm = UniqueHandle<AlgorithmTraits>;
using UniqueKey = UniqueHandle<KeyTraits>;

inline bool Succeeded(NTSTATUS status) { return status >= 0; }

// The provider of the algorithm `name`; empty when it cannot be opened.
UniqueAlgorithm OpenAlgorithm(LPCWSTR name);
// Imports a P-256 key from its blob: the header, X, Y and, for a private key, d. Empty when the
// provider refuses it.
UniqueKey ImportP256Key(BCRYPT_ALG_HANDLE algorithm, const unsigned char* point,
                        const unsigned char* scalar);
