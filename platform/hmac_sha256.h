#pragma once

// HMAC-SHA256 (RFC 2104 with SHA-256) computed by the platform's own cryptography: Windows CNG
// (bcrypt.dll's SHA-256 provider opened for HMAC) on Windows, OpenSSL's libcrypto in the native
// build. A keyed hash is easy to get subtly wrong and hard to test exhaustively, so it is not
// written here.
//
// Stateless; safe to call from any thread.

#include <cstddef>

const std::size_t kHmacSha256Size = 32;

// Writes the kHmacSha256Size-byte HMAC of nDataSize bytes at pData under the nKeySize-byte key
// at pKey to pDigest. A null pointer is allowed where its size is 0. Returns false, with pDigest
// zeroed (when not null), for a null pointer with a non-zero size, a size the platform's API
// cannot take, or a failure of the platform's provider.
bool ComputeHmacSha256(const void* pKey, std::size_t nKeySize, const void* pData,
                       std::size_t nDataSize, unsigned char* pDigest);
