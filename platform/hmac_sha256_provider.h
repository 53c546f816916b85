#pragma once

// The platform's side of ComputeHmacSha256, one per platform (win32/, posix/). The portable
// wrapper has already refused a null digest and a null pointer with a non-zero size; the
// provider only computes, and on failure may leave the digest as it likes (the wrapper zeroes it).

#include <cstddef>

bool ComputeHmacSha256WithProvider(const void* pKey, std::size_t nKeySize, const void* pData,
                                   std::size_t nDataSize, unsigned char* pDigest);
