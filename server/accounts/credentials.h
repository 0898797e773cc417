#pragma once
// Passwords, tokens and ids, all from libsodium. Only token hashes are ever stored.

#include <string>
#include <string_view>

#include "common/server_config.h"

namespace vellumora::server {

// Must be called once before any other function here.
bool initCredentials();

// Argon2id hash in its self-describing text form; empty when out of memory.
std::string hashPassword(std::string_view password, PasswordCost cost);
bool verifyPassword(const std::string& hash, std::string_view password);
// Whether `hash` was made with less memory or fewer passes than `cost` asks for now (or is not
// one we can read): it is then made again at the next log-in. A stronger one is kept.
bool weakerThan(const std::string& hash, PasswordCost cost);
// Burns the same time as a real verification, so an unknown username is not revealed by timing.
void verifyAgainstDummy(std::string_view password, PasswordCost cost);

// 32 random bytes in URL-safe Base64 without padding (43 characters).
std::string newToken();
// The stored form of a token: its 32-byte BLAKE2b hash.
std::string tokenHash(std::string_view token);
// A random UUID in lower-case text; never contains ':' so room ids stay unambiguous.
std::string newUserId();

}  // namespace vellumora::server
