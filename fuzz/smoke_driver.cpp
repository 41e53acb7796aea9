// Runs a fuzz target without libFuzzer, for the test suite: each file of its
// seed corpus, then mutations of them (bytes changed, inserted, cut, pieces
// of two seeds joined) for a few seconds. The random numbers start from a
// fixed seed, so a failure repeats; the input that failed is printed in hex
// before the abort goes on.
//   smoke_driver SECONDS CORPUS-FOLDER
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

const std::string* current = nullptr;

void PrintInputAndAbort(int)
{
    static const char kHex[] = "0123456789abcdef";
    const char header[] = "\nfuzz smoke: the input that failed, in hex:\n";
    ssize_t ignored = ::write(STDERR_FILENO, header, sizeof header - 1);
    if (current != nullptr)
        for (const char c : *current) {
            const char pair[2] = {kHex[static_cast<unsigned char>(c) >> 4], kHex[c & 0x0F]};
            ignored = ::write(STDERR_FILENO, pair, 2);
        }
    ignored = ::write(STDERR_FILENO, "\n", 1);
    (void)ignored;
    ::signal(SIGABRT, SIG_DFL);
    ::raise(SIGABRT);
}

void Run(const std::string& input)
{
    current = &input;
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

std::string Mutated(const std::vector<std::string>& seeds, std::mt19937_64& random)
{
    std::string input = seeds[random() % seeds.size()];
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < changes; ++i) {
        const std::size_t at = input.empty() ? 0 : random() % input.size();
        switch (random() % 5) {
            case 0:  // a byte changed
                if (!input.empty())
                    input[at] = static_cast<char>(random());
                break;
            case 1:  // a byte inserted
                input.insert(at, 1, static_cast<char>(random()));
                break;
            case 2:  // a piece cut
                input.erase(at, random() % 8);
                break;
            case 3:  // a piece of another seed joined in
            {
                const std::string& other = seeds[random() % seeds.size()];
                if (!other.empty()) {
                    const std::size_t from = random() % other.size();
                    input.insert(at, other, from, random() % 16);
                }
                break;
            }
            default:  // a byte of the input's own copied elsewhere
                if (!input.empty())
                    input.insert(random() % input.size(), 1, input[at]);
                break;
        }
    }
    return input;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SECONDS CORPUS-FOLDER\n", argv[0]);
        return 64;
    }
    ::signal(SIGABRT, PrintInputAndAbort);
    std::vector<std::string> seeds;
    for (const auto& entry : std::filesystem::directory_iterator(argv[2])) {
        std::ifstream file(entry.path(), std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    if (seeds.empty()) {
        std::fprintf(stderr, "no seeds in %s\n", argv[2]);
        return 1;
    }
    for (const std::string& seed : seeds)
        Run(seed);
    std::mt19937_64 random(20261208);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(std::atof(argv[1]));
    long runs = 0;
    while (std::chrono::steady_clock::now() < end) {
        for (int i = 0; i < 256; ++i)
            Run(Mutated(seeds, random));
        runs += 256;
    }
    std::printf("fuzz smoke: %zu seeds and %ld mutations, no failure\n", seeds.size(), runs);
    return 0;
}
