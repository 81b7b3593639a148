#include "connector/state/random_hex.h"

#include <array>
#include <random>

namespace korvane::connector {

std::string random_hex(size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    // A single 32-bit seed would allow only 2^32 distinct ids; seed the whole engine state
    // from the system's random device instead.
    std::random_device device;
    std::array<std::random_device::result_type, std::mt19937::state_size> seed_data{};
    for (auto& word : seed_data) word = device();
    std::seed_seq seed(seed_data.begin(), seed_data.end());
    std::mt19937 engine(seed);
    std::uniform_int_distribution<int> digit(0, 15);
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) out += kDigits[digit(engine)];
    return out;
}

}  // namespace korvane::connector
