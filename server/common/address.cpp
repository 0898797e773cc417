#include "common/address.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstring>

namespace vellumora::server {

std::optional<IpAddress> IpAddress::parse(std::string_view text) {
    const std::string copy(text);
    IpAddress a;
    if (inet_pton(AF_INET, copy.c_str(), a.bytes.data()) == 1) return a;
    a.v6 = true;
    if (inet_pton(AF_INET6, copy.c_str(), a.bytes.data()) == 1) return a;
    return std::nullopt;
}

IpAddress IpAddress::unmapped() const {
    static constexpr std::uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (!v6 || std::memcmp(bytes.data(), kMapped, sizeof kMapped) != 0) return *this;
    IpAddress a;
    std::memcpy(a.bytes.data(), bytes.data() + 12, 4);
    return a;
}

std::string IpAddress::text() const {
    char out[INET6_ADDRSTRLEN] = {};
    inet_ntop(v6 ? AF_INET6 : AF_INET, bytes.data(), out, sizeof out);
    return out;
}

std::optional<Network> Network::parse(std::string_view text) {
    const auto slash = text.find('/');
    const auto base = IpAddress::parse(text.substr(0, slash));
    if (!base) return std::nullopt;
    Network n{base->unmapped(), 0};
    const unsigned bits = n.base.v6 ? 128 : 32;
    n.prefix = bits;
    if (slash != std::string_view::npos) {
        const std::string_view p = text.substr(slash + 1);
        auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), n.prefix);
        if (ec != std::errc{} || end != p.data() + p.size() || p.empty() || n.prefix > bits) return std::nullopt;
    }
    return n;
}

bool Network::contains(const IpAddress& address) const {
    const IpAddress a = address.unmapped();
    if (a.v6 != base.v6) return false;
    for (unsigned bit = 0; bit < prefix; ++bit) {
        const unsigned byte = bit / 8;
        const auto mask = static_cast<std::uint8_t>(0x80 >> (bit % 8));
        if ((a.bytes[byte] & mask) != (base.bytes[byte] & mask)) return false;
    }
    return true;
}

std::string rateKey(std::string_view address) {
    const auto parsed = IpAddress::parse(address);
    if (!parsed) return std::string(address);
    IpAddress a = parsed->unmapped();
    if (!a.v6) return a.text();
    std::fill(a.bytes.begin() + 8, a.bytes.end(), std::uint8_t{0});
    return a.text() + "/64";
}

}  // namespace vellumora::server
