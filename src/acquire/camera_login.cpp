#include "acquire/camera_login.h"

#include <cstdio>

namespace torvanel {

namespace {

constexpr size_t kMaxChallengesPerHeader = 32;

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = Lower(c);
    }
    return out;
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = Lower(c);
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A token of a header: up to a space, a comma, an equals sign or a quote.
std::string_view ReadToken(std::string_view s, size_t* i) {
    const size_t start = *i;
    while (*i < s.size() && !IsSpace(s[*i]) && s[*i] != ',' && s[*i] != '=' && s[*i] != '"') {
        ++*i;
    }
    return s.substr(start, *i - start);
}

// A quoted string starting at the quote; a backslash takes the next character
// as it is. An unterminated string runs to the end.
std::string ReadQuoted(std::string_view s, size_t* i) {
    std::string value;
    ++*i;
    while (*i < s.size() && s[*i] != '"') {
        if (s[*i] == '\\' && *i + 1 < s.size()) {
            ++*i;
        }
        value += s[*i];
        ++*i;
    }
    if (*i < s.size()) {
        ++*i;
    }
    return value;
}

void SkipSpaces(std::string_view s, size_t* i) {
    while (*i < s.size() && IsSpace(s[*i])) {
        ++*i;
    }
}

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
    return out;
}

bool ListHasToken(std::string_view list, std::string_view token) {
    size_t i = 0;
    while (i < list.size()) {
        size_t end = list.find(',', i);
        if (end == std::string_view::npos) {
            end = list.size();
        }
        std::string_view item = list.substr(i, end - i);
        while (!item.empty() && IsSpace(item.front())) {
            item.remove_prefix(1);
        }
        while (!item.empty() && IsSpace(item.back())) {
            item.remove_suffix(1);
        }
        if (SameLetters(item, token)) {
            return true;
        }
        i = end + 1;
    }
    return false;
}

// Reads a Digest challenge; false when the login cannot answer it.
bool ReadDigest(const Challenge& c, DigestChallenge* d) {
    const std::string* realm = c.Param("realm");
    const std::string* nonce = c.Param("nonce");
    if (!realm || !nonce || nonce->empty()) {
        return false;
    }
    d->realm = *realm;
    d->nonce = *nonce;
    if (const std::string* opaque = c.Param("opaque")) {
        d->opaque = *opaque;
        d->hasOpaque = true;
    }
    const struct {
        const char* name;
        HashKind hash;
        bool session;
    } kAlgorithms[] = {
        {"MD5", HashKind::Md5, false},
        {"MD5-sess", HashKind::Md5, true},
        {"SHA-256", HashKind::Sha256, false},
        {"SHA-256-sess", HashKind::Sha256, true},
    };
    if (const std::string* algorithm = c.Param("algorithm")) {
        bool known = false;
        for (const auto& a : kAlgorithms) {
            if (SameLetters(*algorithm, a.name)) {
                d->algorithm = a.name;
                d->hash = a.hash;
                d->session = a.session;
                known = true;
            }
        }
        if (!known) {
            return false;
        }
    }
    if (const std::string* qop = c.Param("qop")) {
        if (!ListHasToken(*qop, "auth")) {
            return false;  // auth-int alone: the body would have to be hashed
        }
        d->qopAuth = true;
    }
    if (const std::string* stale = c.Param("stale")) {
        d->stale = SameLetters(*stale, "true");
    }
    return true;
}

int DigestRank(const DigestChallenge& d) {
    return (d.hash == HashKind::Sha256 ? 4 : 2) - (d.session ? 1 : 0);
}

std::string NonceCountText(uint32_t count) {
    char text[9];
    std::snprintf(text, sizeof(text), "%08x", static_cast<unsigned>(count));
    return text;
}

}  // namespace

UrlLogin SplitUserInfo(std::string_view url) {
    UrlLogin login;
    login.url = std::string(url);
    const size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return login;
    }
    const size_t hostStart = scheme + 3;
    size_t hostEnd = url.find_first_of("/?#", hostStart);
    if (hostEnd == std::string_view::npos) {
        hostEnd = url.size();
    }
    const std::string_view authority = url.substr(hostStart, hostEnd - hostStart);
    // The last @ ends the user information: an unescaped @ in a password stays in it.
    const size_t at = authority.rfind('@');
    if (at == std::string_view::npos) {
        return login;
    }
    const std::string_view userInfo = authority.substr(0, at);
    const size_t colon = userInfo.find(':');
    login.user = PercentDecode(userInfo.substr(0, colon));
    if (colon != std::string_view::npos) {
        login.password = PercentDecode(userInfo.substr(colon + 1));
    }
    login.hasUser = true;
    login.url = std::string(url.substr(0, hostStart)) + std::string(url.substr(hostStart + at + 1));
    return login;
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

const std::string* Challenge::Param(std::string_view name) const {
    for (const auto& p : params) {
        if (p.first == name) {
            return &p.second;
        }
    }
    return nullptr;
}

void ParseChallenges(std::string_view header, std::vector<Challenge>* out) {
    if (!out) {
        return;
    }
    size_t current = static_cast<size_t>(-1);  // index into *out of the challenge being read
    size_t added = 0;
    size_t i = 0;
    while (i < header.size()) {
        while (i < header.size() && (IsSpace(header[i]) || header[i] == ',')) {
            ++i;
        }
        if (i >= header.size()) {
            break;
        }
        const std::string_view token = ReadToken(header, &i);
        if (token.empty()) {
            // A stray quote or equals sign: skip it (a quoted string whole).
            if (header[i] == '"') {
                ReadQuoted(header, &i);
            } else {
                ++i;
            }
            continue;
        }
        size_t j = i;
        SkipSpaces(header, &j);
        if (j < header.size() && header[j] == '=') {
            i = j + 1;
            // token68 ("Negotiate abc==") ends in equals signs: not a parameter.
            if (i >= header.size() || header[i] == '=' || header[i] == ',') {
                while (i < header.size() && header[i] == '=') {
                    ++i;
                }
                continue;
            }
            SkipSpaces(header, &i);
            std::string value;
            if (i < header.size() && header[i] == '"') {
                value = ReadQuoted(header, &i);
            } else {
                const size_t start = i;
                while (i < header.size() && !IsSpace(header[i]) && header[i] != ',') {
                    ++i;
                }
                value = std::string(header.substr(start, i - start));
            }
            if (current < out->size()) {
                (*out)[current].params.emplace_back(LowerCase(token), std::move(value));
            }
        } else {
            if (added == kMaxChallengesPerHeader) {
                return;
            }
            out->push_back(Challenge{LowerCase(token), {}});
            current = out->size() - 1;
            ++added;
        }
    }
}

ChosenChallenge ChooseChallenge(const std::vector<Challenge>& challenges) {
    ChosenChallenge best;
    int bestRank = 0;
    for (const Challenge& c : challenges) {
        if (c.scheme == "digest") {
            DigestChallenge d;
            if (ReadDigest(c, &d) && DigestRank(d) > bestRank) {
                best.scheme = LoginScheme::Digest;
                best.digest = std::move(d);
                bestRank = DigestRank(best.digest);
            }
        } else if (c.scheme == "basic" && bestRank == 0) {
            best.scheme = LoginScheme::Basic;
            best.digest = DigestChallenge{};
        }
    }
    return best;
}

std::string DigestResponse(const DigestChallenge& c, const DigestRequest& r, const Hasher& hasher) {
    const auto hash = [&](const std::string& text) {
        std::string hex;
        return hasher.Hex(c.hash, text, &hex) ? hex : std::string();
    };
    std::string ha1 = hash(std::string(r.user) + ":" + c.realm + ":" + std::string(r.password));
    if (!ha1.empty() && c.session) {
        ha1 = hash(ha1 + ":" + c.nonce + ":" + std::string(r.clientNonce));
    }
    const std::string ha2 = hash(std::string(r.method) + ":" + std::string(r.uri));
    if (ha1.empty() || ha2.empty()) {
        return std::string();
    }
    if (!c.qopAuth) {
        return hash(ha1 + ":" + c.nonce + ":" + ha2);
    }
    return hash(ha1 + ":" + c.nonce + ":" + NonceCountText(r.nonceCount) + ":" +
                std::string(r.clientNonce) + ":auth:" + ha2);
}

std::string DigestAuthorization(const DigestChallenge& c, const DigestRequest& r,
                                std::string_view response) {
    std::string v = "Digest username=" + Quote(r.user) + ", realm=" + Quote(c.realm) +
                    ", nonce=" + Quote(c.nonce) + ", uri=" + Quote(r.uri);
    if (!c.algorithm.empty()) {
        v += ", algorithm=" + c.algorithm;
    }
    if (c.qopAuth) {
        v += ", qop=auth, nc=" + NonceCountText(r.nonceCount) + ", cnonce=" + Quote(r.clientNonce);
    } else if (c.session) {
        v += ", cnonce=" + Quote(r.clientNonce);
    }
    v += ", response=" + Quote(response);
    if (c.hasOpaque) {
        v += ", opaque=" + Quote(c.opaque);
    }
    return v;
}

void CameraLogin::Use(const UrlLogin& login) {
    if (login.url == login_.url && login.user == login_.user && login.password == login_.password &&
        login.hasUser == login_.hasUser) {
        return;
    }
    login_ = login;
    chosen_ = ChosenChallenge{};
    nonceCount_ = 0;
}

std::string CameraLogin::Authorization(std::string_view uri) {
    if (!login_.hasUser) {
        return std::string();
    }
    if (chosen_.scheme == LoginScheme::Basic) {
        std::string encoded;
        if (!LoginCrypto::Base64(login_.user + ":" + login_.password, &encoded)) {
            return std::string();
        }
        return "Basic " + encoded;
    }
    if (chosen_.scheme != LoginScheme::Digest) {
        return std::string();
    }
    std::string clientNonce;
    if (!crypto_.ClientNonce(&clientNonce)) {
        return std::string();
    }
    const DigestRequest request{login_.user, login_.password, "GET",
                                uri,         ++nonceCount_,   clientNonce};
    const std::string response = DigestResponse(chosen_.digest, request, crypto_);
    if (response.empty()) {
        return std::string();
    }
    return DigestAuthorization(chosen_.digest, request, response);
}

bool CameraLogin::Learn(const std::vector<std::string>& headers) {
    if (!login_.hasUser) {
        return false;
    }
    std::vector<Challenge> challenges;
    for (const std::string& h : headers) {
        ParseChallenges(h, &challenges);
    }
    ChosenChallenge chosen = ChooseChallenge(challenges);
    if (chosen.scheme == LoginScheme::None) {
        return false;
    }
    // The count runs per nonce.
    if (chosen.scheme != chosen_.scheme || chosen.digest.nonce != chosen_.digest.nonce) {
        nonceCount_ = 0;
    }
    chosen_ = std::move(chosen);
    return true;
}

}  // namespace torvanel
