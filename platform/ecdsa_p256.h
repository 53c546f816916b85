#pragma once

// ECDSA over P-256 with SHA-256, verified by the platform's own cryptography: Windows CNG
// (bcrypt.dll's SHA-256 and ECDSA P-256 providers, bcrypt.dll loaded from System32 only) on
// Windows, OpenSSL's libcrypto in the native build. Curve arithmetic is never written here.
//
// The caller hands over exactly the sizes below and nothing else: providers have been seen to
// accept a signature one byte too long, so lengths are never left for them to judge.
//
// Stateless; safe to call from any thread. Keeps nothing loaded after it returns.

#include <cstddef>

const std::size_t kEcdsaP256KeySize = 64;        // X||Y, big-endian
const std::size_t kEcdsaP256SignatureSize = 64;  // r||s, big-endian

enum EEcdsaVerdict {
    kEcdsaValid,
    kEcdsaInvalid,  // the signature does not verify under the key
    kEcdsaBadKey,   // the key is not a point of the curve
    kEcdsaFailure,  // the provider could not be loaded or used
};

// Verifies the signature at pSignature over nSize bytes at pMessage (null allowed when nSize is
// 0) under the public key at pPublicKey.
EEcdsaVerdict VerifyEcdsaP256Sha256(const void* pMessage, std::size_t nSize,
                                    const unsigned char* pPublicKey,
                                    const unsigned char* pSignature);
