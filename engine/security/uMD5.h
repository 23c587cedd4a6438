#pragma once
// MD5 message digest (RFC 1321), computed by libcrypto.

#include <memory>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace korvel {

class TMD5 {
public:
    // Throws std::bad_alloc when libcrypto cannot make a context, std::runtime_error when it
    // offers no MD5 (a FIPS-only configuration).
    TMD5();
    ~TMD5();
    TMD5(const TMD5&) = delete;
    TMD5& operator=(const TMD5&) = delete;
    void Update(std::string_view data);
    // The 16-byte digest; the object must not be updated afterwards.
    std::string Final();

private:
    struct TContextFree {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, TContextFree> FContext;
};

// The 16-byte digest of the data.
std::string MD5(std::string_view data);

} // namespace korvel
