// Ed25519 through OpenSSL's EVP interface (one-shot DigestSign/DigestVerify,
// no digest: Ed25519 hashes the message itself).
//
// The public key that update files are checked against is fixed when the
// program is built (app/UpdateKey.cpp): the CMake cache variable
// VEXTAL_UPDATE_PUBLIC_KEY names a PEM file embedded at configure time; left
// empty, the build generates a development key pair into the build tree,
// whose private half the tests and scripts/demo give to plindo-serve. There
// is deliberately no way to change the key at run time.
#include "net/UpdateSignature.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

namespace vextal {
namespace {

constexpr size_t kEd25519SignatureBytes = 64;

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct MdFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;

KeyPtr ReadKey(const std::string& pem, bool isPrivate)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return nullptr;
    KeyPtr key(isPrivate ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                         : PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (key && EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) key.reset();
    return key;
}

}  // namespace

bool IsEd25519PrivateKey(const std::string& pem) { return ReadKey(pem, true) != nullptr; }

bool SignDetached(const std::string& data, const std::string& privateKeyPem, std::string& signature,
                  std::string& error)
{
    KeyPtr key = ReadKey(privateKeyPem, true);
    if (!key) {
        error = "not an Ed25519 private key in PEM form";
        return false;
    }
    std::unique_ptr<EVP_MD_CTX, MdFree> ctx(EVP_MD_CTX_new());
    size_t length = kEd25519SignatureBytes;
    signature.assign(length, '\0');
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1 ||
        length != kEd25519SignatureBytes) {
        error = "signing failed";
        signature.clear();
        return false;
    }
    return true;
}

bool VerifyDetached(const std::string& data, const std::string& signature, const std::string& publicKeyPem)
{
    if (signature.size() != kEd25519SignatureBytes) return false;
    KeyPtr key = ReadKey(publicKeyPem, false);
    if (!key) return false;
    std::unique_ptr<EVP_MD_CTX, MdFree> ctx(EVP_MD_CTX_new());
    return ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
           EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                            reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
}

}  // namespace vextal
