#include "acquire/login_crypto.h"

#include <vector>

namespace torvanel {

namespace {

struct CryptHashTraits {
    static HCRYPTHASH Empty() { return 0; }
    static void Close(HCRYPTHASH hash) { CryptDestroyHash(hash); }
};
using ScopedCryptHash = Scoped<HCRYPTHASH, CryptHashTraits>;

constexpr DWORD kNonceBytes = 16;

}  // namespace

std::string HexDigits(const unsigned char* bytes, size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0x0F];
    }
    return hex;
}

HCRYPTPROV LoginCrypto::Provider() const {
    if (!provider_) {
        HCRYPTPROV provider = 0;
        // PROV_RSA_AES: the provider type that offers SHA-256 besides MD5.
        if (CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
            provider_.Reset(provider);
        }
    }
    return provider_.Get();
}

bool LoginCrypto::Hex(HashKind kind, std::string_view text, std::string* hex) const {
    const HCRYPTPROV provider = Provider();
    if (!provider || !hex || text.size() > MAXDWORD) {
        return false;
    }
    ScopedCryptHash hash;
    {
        HCRYPTHASH raw = 0;
        if (!CryptCreateHash(provider, kind == HashKind::Md5 ? CALG_MD5 : CALG_SHA_256, 0, 0,
                             &raw)) {
            return false;
        }
        hash.Reset(raw);
    }
    if (!CryptHashData(hash.Get(), reinterpret_cast<const BYTE*>(text.data()),
                       static_cast<DWORD>(text.size()), 0)) {
        return false;
    }
    BYTE digest[32];
    DWORD size = sizeof(digest);
    if (!CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &size, 0)) {
        return false;
    }
    *hex = HexDigits(digest, size);
    return true;
}

bool LoginCrypto::ClientNonce(std::string* hex) const {
    const HCRYPTPROV provider = Provider();
    BYTE bytes[kNonceBytes];
    if (!provider || !hex || !CryptGenRandom(provider, kNonceBytes, bytes)) {
        return false;
    }
    *hex = HexDigits(bytes, kNonceBytes);
    return true;
}

bool LoginCrypto::Base64(std::string_view bytes, std::string* text) {
    if (!text || bytes.size() > MAXDWORD / 2) {
        return false;
    }
    if (bytes.empty()) {
        text->clear();
        return true;
    }
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    const BYTE* data = reinterpret_cast<const BYTE*>(bytes.data());
    const DWORD length = static_cast<DWORD>(bytes.size());
    DWORD size = 0;
    if (!CryptBinaryToStringA(data, length, flags, nullptr, &size) || size == 0) {
        return false;
    }
    std::vector<char> out(size);
    if (!CryptBinaryToStringA(data, length, flags, out.data(), &size)) {
        return false;
    }
    // size now counts the characters without the terminating zero.
    text->assign(out.data(), size < out.size() ? size : out.size() - 1);
    // A header line must not break, whatever the platform appends.
    while (!text->empty() && (text->back() == '\r' || text->back() == '\n')) {
        text->pop_back();
    }
    return true;
}

}  // namespace torvanel
