#include "platform/ecdsa_p256.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

namespace {

// Each OpenSSL object with its one owner.
struct SKeyContext {
    EVP_PKEY_CTX* p = nullptr;
    ~SKeyContext() { EVP_PKEY_CTX_free(p); }
};
struct SKey {
    EVP_PKEY* p = nullptr;
    ~SKey() { EVP_PKEY_free(p); }
};
struct SParams {
    OSSL_PARAM* p = nullptr;
    ~SParams() { OSSL_PARAM_free(p); }
};
struct SParamBuilder {
    OSSL_PARAM_BLD* p = OSSL_PARAM_BLD_new();
    ~SParamBuilder() { OSSL_PARAM_BLD_free(p); }
};
struct SSignature {
    ECDSA_SIG* p = ECDSA_SIG_new();
    ~SSignature() { ECDSA_SIG_free(p); }
};
struct SDigestContext {
    EVP_MD_CTX* p = EVP_MD_CTX_new();
    ~SDigestContext() { EVP_MD_CTX_free(p); }
};

// The public key as an uncompressed point; fromdata checks that it lies on the curve.
bool LoadKey(const unsigned char* pPublicKey, SKey* pKey) {
    unsigned char point[1 + kEcdsaP256KeySize];
    point[0] = 0x04;
    for (std::size_t i = 0; i < kEcdsaP256KeySize; ++i)
        point[1 + i] = pPublicKey[i];
    SParamBuilder builder;
    if (builder.p == nullptr ||
        !OSSL_PARAM_BLD_push_utf8_string(builder.p, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) ||
        !OSSL_PARAM_BLD_push_octet_string(builder.p, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof(point)))
        return false;
    SParams params;
    params.p = OSSL_PARAM_BLD_to_param(builder.p);
    SKeyContext context;
    context.p = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    if (params.p == nullptr || context.p == nullptr || EVP_PKEY_fromdata_init(context.p) <= 0 ||
        EVP_PKEY_fromdata(context.p, &pKey->p, EVP_PKEY_PUBLIC_KEY, params.p) <= 0)
        return false;
    // fromdata takes the point as given; the check proves it is on the curve.
    SKeyContext check;
    check.p = EVP_PKEY_CTX_new_from_pkey(nullptr, pKey->p, nullptr);
    return check.p != nullptr && EVP_PKEY_public_check(check.p) == 1;
}

}  // namespace

EEcdsaVerdict VerifyEcdsaP256Sha256(const void* pMessage, std::size_t nSize,
                                    const unsigned char* pPublicKey,
                                    const unsigned char* pSignature) {
    SKey key;
    if (!LoadKey(pPublicKey, &key)) {
        ERR_clear_error();
        return kEcdsaBadKey;
    }
    SSignature signature;
    if (signature.p == nullptr)
        return kEcdsaFailure;
    BIGNUM* r = BN_bin2bn(pSignature, 32, nullptr);
    BIGNUM* s = BN_bin2bn(pSignature + 32, 32, nullptr);
    if (r == nullptr || s == nullptr || !ECDSA_SIG_set0(signature.p, r, s)) {
        BN_free(r);
        BN_free(s);
        return kEcdsaFailure;
    }
    unsigned char* pDer = nullptr;
    const int nDer = i2d_ECDSA_SIG(signature.p, &pDer);
    if (nDer <= 0)
        return kEcdsaFailure;
    static const unsigned char kNothing = 0;
    SDigestContext digest;
    int nVerified = -1;
    if (digest.p != nullptr &&
        EVP_DigestVerifyInit(digest.p, nullptr, EVP_sha256(), nullptr, key.p) == 1)
        nVerified = EVP_DigestVerify(
            digest.p, pDer, static_cast<std::size_t>(nDer),
            nSize != 0 ? static_cast<const unsigned char*>(pMessage) : &kNothing, nSize);
    OPENSSL_free(pDer);
    // A refused signature leaves its reason on the thread's error queue; nothing is kept.
    ERR_clear_error();
    if (nVerified == 1)
        return kEcdsaValid;
    return nVerified == 0 ? kEcdsaInvalid : kEcdsaFailure;
}
