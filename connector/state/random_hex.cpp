#include "connector/state/random_hex.h"

#include <cstdint>
#include <random>

namespace korvane::connector {

std::string random_hex(size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    // Every digit comes straight from the system's random source: ids made here must not be
    // guessable, and one 32-bit seed would allow only 2^32 of them.
    std::random_device device;
    std::string out;
    out.reserve(count);
    uint32_t bits = 0;
    for (size_t i = 0; i < count; ++i) {
        if (i % 8 == 0) bits = device();
        out += kDigits[bits & 0x0F];
        bits >>= 4;
    }
    return out;
}

}  // namespace korvane::connector
