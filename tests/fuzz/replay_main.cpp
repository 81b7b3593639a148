// Runs a fuzz target once over each file of the folders (or files) named on the command line: the
// committed corpus as an ordinary test, in builds without libFuzzer.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// Returns the regular files at `path`: the path itself, or a folder's files in name order.
std::vector<std::filesystem::path> inputs_at(const std::filesystem::path& path) {
    if (!std::filesystem::is_directory(path)) return {path};
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const std::filesystem::path& file : inputs_at(argv[i])) {
            std::ifstream in(file, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            // A block of exactly the input's size, so reading past its end is an error the sanitizer sees.
            std::vector<uint8_t> data(std::filesystem::file_size(file));
            in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
            LLVMFuzzerTestOneInput(data.data(), data.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    // An empty or missing corpus would test nothing.
    return replayed > 0 ? 0 : 1;
}
