#include "security/uMD5.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <new>
#include <stdexcept>

namespace korvel {

namespace {

// Fetched once for the process: every object key of an encrypted file is a digest. The
// system's OpenSSL configuration is not read: a digest needs none of it, and reading it costs
// every process milliseconds at start (the blank document takes a digest for its ID).
const EVP_MD* md5Method() {
    static EVP_MD* const method = [] {
        OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
        return EVP_MD_fetch(nullptr, "MD5", nullptr);
    }();
    return method;
}

} // namespace

void TMD5::TContextFree::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

TMD5::TMD5() : FContext(EVP_MD_CTX_new()) {
    if (!FContext)
        throw std::bad_alloc();
    if (!md5Method() || EVP_DigestInit_ex(FContext.get(), md5Method(), nullptr) != 1)
        throw std::runtime_error("MD5 is not available from libcrypto");
}

TMD5::~TMD5() = default;

void TMD5::Update(std::string_view data) {
    // Fed in pieces below INT_MAX each, whatever the platform's size_t.
    while (!data.empty()) {
        const std::size_t piece = std::min<std::size_t>(data.size(), INT_MAX);
        EVP_DigestUpdate(FContext.get(), data.data(), piece);
        data.remove_prefix(piece);
    }
}

std::string TMD5::Final() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(FContext.get(), digest, &length);
    return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string MD5(std::string_view data) {
    TMD5 md5;
    md5.Update(data);
    return md5.Final();
}

} // namespace korvel
