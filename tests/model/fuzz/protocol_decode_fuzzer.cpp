// Feeds arbitrary bytes to both decoders. Whatever decodes must encode again and decode to
// the same value, so the two ends of a connection can never disagree on a message.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/network_event.h"
#include "model/protocol.h"

namespace {
template <typename Message, typename Decode>
void checkRoundTrip(const Message& message, Decode decode) {
    const auto text = vellumora::encode(message);
    if (!text) std::abort();  // decoded numbers are always finite
    const auto again = decode(*text);
    if (!again || !(*again == message)) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto server = vellumora::decodeServerMessage(bytes)) {
        checkRoundTrip(*server, [](std::string_view t) { return vellumora::decodeServerMessage(t); });
        (void)vellumora::toNetworkEvent(vellumora::ServerMessage(*server));
    }
    if (const auto client = vellumora::decodeClientMessage(bytes)) {
        checkRoundTrip(*client, [](std::string_view t) { return vellumora::decodeClientMessage(t); });
        checkRoundTrip(vellumora::relayedFrom(*client, "fuzz-user"),
                       [](std::string_view t) { return vellumora::decodeServerMessage(t); });
    }
    return 0;
}
