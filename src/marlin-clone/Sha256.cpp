#include "Sha256.h"

#include <openssl/evp.h>

namespace {
const char kHexDigits[] = "0123456789abcdef";

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Fetched once: an implicit fetch on every call would cost more than hashing a small chunk.
const EVP_MD* sha256Method()
{
    static EVP_MD* method = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return method;
}
} // namespace

Sha256::Digest Sha256::of(const void* data, size_t size)
{
    Digest digest{};
    unsigned int length = 0;
    EVP_Digest(data, size, digest.data(), &length, sha256Method(), nullptr);
    return digest;
}

std::string Sha256::hex(const Digest& digest)
{
    std::string text;
    text.reserve(2 * digest.size());
    for (const uint8_t byte : digest) {
        text += kHexDigits[byte >> 4];
        text += kHexDigits[byte & 15];
    }
    return text;
}

bool Sha256::fromHex(const std::string& text, Digest& digest)
{
    if (text.size() != 2 * digest.size()) {
        return false;
    }
    for (size_t i = 0; i < digest.size(); ++i) {
        const int high = hexValue(text[2 * i]);
        const int low = hexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        digest[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

bool Sha256::isZero(const Digest& digest)
{
    for (const uint8_t byte : digest) {
        if (byte != 0) {
            return false;
        }
    }
    return true;
}
