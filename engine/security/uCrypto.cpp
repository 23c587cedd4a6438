#include "security/uCrypto.h"

#include <dlfcn.h>
#include <openssl/evp.h>
#include <openssl/opensslv.h>
#include <openssl/sha.h>

#include <algorithm>
#include <memory>

namespace korvel {

namespace {

#define KORVEL_STRING2(x) #x
#define KORVEL_STRING(x) KORVEL_STRING2(x)

// libcrypto, opened when a file first needs AES or SHA-2 rather than mapped into every
// process at start. Without it every function below answers "" (no key opens the file).
struct TCrypto {
    decltype(&EVP_aes_128_cbc) Aes128Cbc = nullptr;
    decltype(&EVP_aes_256_cbc) Aes256Cbc = nullptr;
    decltype(&EVP_CIPHER_CTX_new) ContextNew = nullptr;
    decltype(&EVP_CIPHER_CTX_free) ContextFree = nullptr;
    decltype(&EVP_CIPHER_CTX_set_padding) SetPadding = nullptr;
    decltype(&EVP_CipherInit_ex) CipherInit = nullptr;
    decltype(&EVP_CipherUpdate) CipherUpdate = nullptr;
    decltype(&::SHA256) Sha256 = nullptr;
    decltype(&::SHA384) Sha384 = nullptr;
    decltype(&::SHA512) Sha512 = nullptr;
    bool Usable = false;
};

template <typename F>
bool bind(void* library, const char* name, F& function) {
    function = library ? reinterpret_cast<F>(::dlsym(library, name)) : nullptr;
    return function != nullptr;
}

const TCrypto& crypto() {
    static const TCrypto loaded = [] {
        TCrypto c;
        void* library = ::dlopen("libcrypto.so." KORVEL_STRING(OPENSSL_VERSION_MAJOR),
                                 RTLD_NOW | RTLD_LOCAL);
        c.Usable = bind(library, "EVP_aes_128_cbc", c.Aes128Cbc) &&
                   bind(library, "EVP_aes_256_cbc", c.Aes256Cbc) &&
                   bind(library, "EVP_CIPHER_CTX_new", c.ContextNew) &&
                   bind(library, "EVP_CIPHER_CTX_free", c.ContextFree) &&
                   bind(library, "EVP_CIPHER_CTX_set_padding", c.SetPadding) &&
                   bind(library, "EVP_CipherInit_ex", c.CipherInit) &&
                   bind(library, "EVP_CipherUpdate", c.CipherUpdate) &&
                   bind(library, "SHA256", c.Sha256) && bind(library, "SHA384", c.Sha384) &&
                   bind(library, "SHA512", c.Sha512);
        return c;
    }();
    return loaded;
}

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { crypto().ContextFree(ctx); }
};

std::string aesCBC(std::string_view key, std::string_view iv, std::string_view data,
                   bool encrypt) {
    const TCrypto& c = crypto();
    if (!c.Usable)
        return {};
    const EVP_CIPHER* cipher = key.size() == 16   ? c.Aes128Cbc()
                               : key.size() == 32 ? c.Aes256Cbc()
                                                  : nullptr;
    if (!cipher || iv.size() != 16)
        return {};
    const std::size_t whole = data.size() / 16 * 16;
    if (whole == 0)
        return {};
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> ctx(c.ContextNew());
    if (!ctx)
        return {};
    const auto* k = reinterpret_cast<const unsigned char*>(key.data());
    const auto* v = reinterpret_cast<const unsigned char*>(iv.data());
    if (c.CipherInit(ctx.get(), cipher, nullptr, k, v, encrypt ? 1 : 0) != 1)
        return {};
    c.SetPadding(ctx.get(), 0);
    std::string out(whole, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    const auto* in = reinterpret_cast<const unsigned char*>(data.data());
    // Whole blocks only, so one update does all; fed in pieces below INT_MAX each.
    std::size_t done = 0;
    std::size_t written = 0;
    constexpr std::size_t kPiece = std::size_t{1} << 30;
    while (done < whole) {
        const std::size_t piece = std::min(kPiece, whole - done);
        int len = 0;
        if (c.CipherUpdate(ctx.get(), o + written, &len, in + done, static_cast<int>(piece)) != 1)
            return {};
        done += piece;
        written += static_cast<std::size_t>(len);
    }
    out.resize(written);
    return out;
}

template <typename Fn>
std::string digest(std::string_view data, std::size_t size, Fn fn) {
    if (!fn)
        return {};
    std::string out(size, '\0');
    fn(reinterpret_cast<const unsigned char*>(data.data()), data.size(),
       reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

} // namespace

std::string AESDecryptCBC(std::string_view key, std::string_view iv, std::string_view data) {
    return aesCBC(key, iv, data, false);
}

std::string AESEncryptCBC(std::string_view key, std::string_view iv, std::string_view data) {
    return aesCBC(key, iv, data, true);
}

std::string AESDecryptPadded(std::string_view key, std::string_view data) {
    if (data.size() < 16)
        return {};
    std::string out = AESDecryptCBC(key, data.substr(0, 16), data.substr(16));
    if (out.empty())
        return out;
    // PKCS#7: n bytes of value n, 1 to 16. Anything else is kept as it decrypted.
    const auto n = static_cast<unsigned char>(out.back());
    if (n >= 1 && n <= 16 && n <= out.size()) {
        bool same = true;
        for (std::size_t i = out.size() - n; i < out.size(); ++i)
            same = same && static_cast<unsigned char>(out[i]) == n;
        if (same)
            out.resize(out.size() - n);
    }
    return out;
}

std::string AESEncryptPadded(std::string_view key, std::string_view iv, std::string_view data) {
    std::string padded(data);
    const std::size_t n = 16 - padded.size() % 16;
    padded.append(n, static_cast<char>(n));
    return std::string(iv) + AESEncryptCBC(key, iv, padded);
}

std::string Sha256(std::string_view data) {
    return digest(data, SHA256_DIGEST_LENGTH, crypto().Sha256);
}

std::string Sha384(std::string_view data) {
    return digest(data, SHA384_DIGEST_LENGTH, crypto().Sha384);
}

std::string Sha512(std::string_view data) {
    return digest(data, SHA512_DIGEST_LENGTH, crypto().Sha512);
}

} // namespace korvel
