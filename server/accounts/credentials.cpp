#include "accounts/credentials.h"

#include <sodium.h>

#include <array>
#include <cstdio>
#include <mutex>

namespace vellumora::server {

namespace {

struct Limits {
    unsigned long long ops;
    std::size_t mem;
};

Limits limitsFor(PasswordCost cost) {
    if (cost == PasswordCost::minimal) return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN};
    return {crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE};
}

}  // namespace

bool initCredentials() {
    return sodium_init() >= 0;
}

std::string hashPassword(std::string_view password, PasswordCost cost) {
    const Limits limits = limitsFor(cost);
    std::array<char, crypto_pwhash_STRBYTES> out{};
    if (crypto_pwhash_str(out.data(), password.data(), password.size(), limits.ops, limits.mem) != 0)
        return {};
    return std::string(out.data());
}

bool verifyPassword(const std::string& hash, std::string_view password) {
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

bool weakerThan(const std::string& hash, PasswordCost cost) {
    // "$argon2id$v=19$m=65536,t=2,p=1$salt$hash"
    unsigned long long memoryKiB = 0;
    unsigned long long passes = 0;
    if (std::sscanf(hash.c_str(), "$argon2id$v=%*u$m=%llu,t=%llu,", &memoryKiB, &passes) != 2) return true;
    const Limits limits = limitsFor(cost);
    return memoryKiB * 1024 < limits.mem || passes < limits.ops;
}

void verifyAgainstDummy(std::string_view password, PasswordCost cost) {
    static std::once_flag once;
    static std::string dummy[2];
    std::call_once(once, [] {
        dummy[0] = hashPassword("not a password of anyone", PasswordCost::interactive);
        dummy[1] = hashPassword("not a password of anyone", PasswordCost::minimal);
    });
    (void)verifyPassword(dummy[cost == PasswordCost::minimal ? 1 : 0], password);
}

std::string newToken() {
    std::array<unsigned char, 32> bytes{};
    randombytes_buf(bytes.data(), bytes.size());
    constexpr int variant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;
    std::array<char, sodium_base64_ENCODED_LEN(32, variant)> text{};
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), variant);
    sodium_memzero(bytes.data(), bytes.size());
    return std::string(text.data());
}

std::string tokenHash(std::string_view token) {
    std::array<unsigned char, 32> hash{};
    crypto_generichash(hash.data(), hash.size(), reinterpret_cast<const unsigned char*>(token.data()),
                       token.size(), nullptr, 0);
    return std::string(reinterpret_cast<const char*>(hash.data()), hash.size());
}

std::string newUserId() {
    std::array<unsigned char, 16> b{};
    randombytes_buf(b.data(), b.size());
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return std::string(text, 36);
}

}  // namespace vellumora::server
