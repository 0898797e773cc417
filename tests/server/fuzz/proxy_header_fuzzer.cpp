// Feeds arbitrary bytes to the PROXY v2 parser, whole and growing byte by byte as a socket
// might deliver them. A header never claims more bytes than it was given, asks for fewer
// than it has, or changes its verdict once complete; an address is always an IP address.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/address.h"
#include "http/proxy_header.h"

using namespace vellumora::server;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const proxy::Header whole = proxy::parse({data, size});
    using S = proxy::Header::Status;
    if (whole.status == S::incomplete && whole.needed <= size) std::abort();
    if (whole.size > size || whole.needed > proxy::kFixedBytes + proxy::kMaxRestBytes) std::abort();
    if (whole.status == S::proxied && !IpAddress::parse(whole.address)) std::abort();
    if (whole.status != S::proxied && !whole.address.empty()) std::abort();
    for (std::size_t n = 0; n <= size && n <= whole.needed; ++n) {
        const proxy::Header part = proxy::parse({data, n});
        if (part.status == S::invalid && whole.status != S::invalid) std::abort();
        if (part.status != S::incomplete && part.status != whole.status) std::abort();
    }
    return 0;
}
