// Feeds arbitrary bytes to the frame reader the way a socket might deliver them: the first
// byte picks the size of the pieces. The same bytes read in one piece must give the same
// events, a step never consumes more than it was given, a message never passes the limit,
// and a failed reader stays failed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../frame_pieces.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using vellumora::server::ws::readInPieces;
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (readInPieces(4096, bytes, piece) != readInPieces(4096, bytes, bytes.size() + 1)) std::abort();
    return 0;
}
