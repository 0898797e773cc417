#pragma once
// Client addresses as the server reasons about them: networks given on the command line
// (--trusted-proxy), and the key a rate limit counts an address under. No socket library:
// addresses are their 4 or 16 bytes.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellumora::server {

struct IpAddress {
    std::array<std::uint8_t, 16> bytes{};  // IPv4 in the first 4
    bool v6 = false;

    static std::optional<IpAddress> parse(std::string_view text);
    // An IPv4 address mapped into IPv6 (::ffff:a.b.c.d) becomes the IPv4 one.
    IpAddress unmapped() const;
    std::string text() const;
    bool operator==(const IpAddress&) const = default;
};

struct Network {
    IpAddress base;
    unsigned prefix = 0;

    // "10.0.0.0/8", "fd00::/8", or one address ("127.0.0.1" is 127.0.0.1/32).
    static std::optional<Network> parse(std::string_view text);
    bool contains(const IpAddress& address) const;
};

// What rate limits count an address under: IPv4 as it is, IPv6 by its /64 (one subscriber's
// whole prefix, which anyone holding one may spread over freely).
std::string rateKey(std::string_view address);

}  // namespace vellumora::server
