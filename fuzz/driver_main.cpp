// A main() for the fuzz targets where libFuzzer is not at hand (cross builds run under qemu): runs the
// target over every file named on the command line, then over a bounded number of inputs made from a fixed
// seed, so that every run is the same on every CPU.
//
//   driver <files...> [--generated N] [--seed S] [--max-length L]
//
// A failed check aborts, as under libFuzzer; the exit status then tells the caller.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// splitmix64: small, and the same sequence on every CPU and in either byte order.
std::uint64_t next_random(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

bool read_file(const char* path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long generated = 0;
    std::uint64_t state = 1;
    std::size_t max_length = 512;
    std::vector<std::vector<std::uint8_t>> inputs;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--generated") == 0 && has_value) {
            generated = std::strtoul(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--seed") == 0 && has_value) {
            state = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--max-length") == 0 && has_value) {
            max_length = std::strtoul(argv[++i], nullptr, 10);
        } else {
            std::vector<std::uint8_t> bytes;
            if (!read_file(argv[i], bytes)) {
                std::fprintf(stderr, "driver: cannot read %s\n", argv[i]);
                return 2;
            }
            inputs.push_back(std::move(bytes));
        }
    }
    for (const auto& input : inputs) {
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    // Generated inputs: random bytes, and every tenth a kept input with a few bytes changed, which keeps
    // the shapes the seeds reach while varying their numbers.
    std::vector<std::uint8_t> bytes;
    for (unsigned long n = 0; n < generated; ++n) {
        if (n % 10 == 9 && !inputs.empty()) {
            bytes = inputs[next_random(state) % inputs.size()];
            for (int edit = 0; edit < 4 && !bytes.empty(); ++edit) {
                bytes[next_random(state) % bytes.size()] = static_cast<std::uint8_t>(next_random(state));
            }
        } else {
            bytes.resize(max_length == 0 ? 0 : next_random(state) % (max_length + 1));
            for (auto& byte : bytes) {
                byte = static_cast<std::uint8_t>(next_random(state));
            }
        }
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("driver: %zu files and %lu generated inputs passed\n", inputs.size(), generated);
    return 0;
}
