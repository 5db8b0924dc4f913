// Runs a fuzz target without libFuzzer: fixed seeds first, then deterministic
// pseudo-random byte strings built from them, so any build exercises every parser.
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main() {
    const std::vector<std::string> seeds = {
        "", "install", "\xFF\xFE", "{\"a\":1}", "untrusted comment: x\nRWQ\ntrusted comment: y\nZZ\n",
        "{\"version\":\"1\",\"files\":[{\"relative_path\":\"a/b.txt\",\"sha256\":\"00\"}]}",
        "{\"version\":\"1\",\"installer_pid\":4,\"created_at\":5,\"installer_image\":\"C:\\\\x\"}",
        std::string("\0\x80\xC0\xE0\xF0", 5),
    };
    for (const auto& seed : seeds) LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(seed.data()), seed.size());

    std::mt19937 random(20261210);
    for (int round = 0; round < 20000; ++round) {
        std::string input = seeds[random() % seeds.size()];
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < edits; ++i) {
            const auto byte = static_cast<char>(random() % 256);
            if (input.empty() || random() % 3 == 0) {
                input.insert(input.begin() + static_cast<long>(input.empty() ? 0 : random() % input.size()), byte);
            } else {
                input[random() % input.size()] = byte;
            }
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    }
    return 0;
}
