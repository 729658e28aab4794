// The platform's cryptography for camera login: hashes, a random client nonce
// and Base64, through CryptoAPI.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <string_view>

#include "base/scoped_win.h"

namespace torvanel {

enum class HashKind { Md5, Sha256 };

// Hashes text into lower-case hex.
class Hasher {
public:
    virtual ~Hasher() = default;
    virtual bool Hex(HashKind kind, std::string_view text, std::string* hex) const = 0;
};

struct CryptProviderTraits {
    static HCRYPTPROV Empty() { return 0; }
    static void Close(HCRYPTPROV provider) { CryptReleaseContext(provider, 0); }
};
using ScopedCryptProvider = Scoped<HCRYPTPROV, CryptProviderTraits>;

// One provider for the life of the object, acquired at first use: acquiring it
// costs more than the hashes of a request. One thread at a time.
class LoginCrypto : public Hasher {
public:
    bool Hex(HashKind kind, std::string_view text, std::string* hex) const override;
    // 16 random bytes as 32 hex digits.
    bool ClientNonce(std::string* hex) const;
    // Standard Base64 on one line.
    static bool Base64(std::string_view bytes, std::string* text);

private:
    HCRYPTPROV Provider() const;
    mutable ScopedCryptProvider provider_;
};

// Bytes as lower-case hex.
std::string HexDigits(const unsigned char* bytes, size_t count);

}  // namespace torvanel
