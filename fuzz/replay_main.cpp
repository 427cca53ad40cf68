// The replay driver: runs a fuzz target once over every file named on the command line or
// found in a directory named there (sorted, hidden files skipped), as libFuzzer would run
// a corpus, so that the normal and sanitizer builds replay the seeds and the saved
// regressions without clang. The file about to run is printed first: when an input
// crashes the process, the last line names it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Defined by the targets that need a start-up.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

bool Hidden(const fs::path& path) { return path.filename().string().rfind('.', 0) == 0; }

// The inputs an argument names; false when it names nothing readable.
bool CollectInputs(const fs::path& argument, std::vector<fs::path>& inputs) {
    std::error_code error;
    if (fs::is_regular_file(argument, error)) {
        inputs.push_back(argument);
        return true;
    }
    if (!fs::is_directory(argument, error)) return false;
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(argument, error))
        if (entry.is_regular_file() && !Hidden(entry.path())) files.push_back(entry.path());
    if (error) return false;
    std::sort(files.begin(), files.end());
    inputs.insert(inputs.end(), files.begin(), files.end());
    return true;
}

bool ReadFile(const fs::path& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!CollectInputs(argv[i], inputs)) {
            std::fprintf(stderr, "replay: cannot read %s\n", argv[i]);
            return 2;
        }
    }
    std::vector<uint8_t> bytes;
    for (const fs::path& input : inputs) {
        if (!ReadFile(input, bytes)) {
            std::fprintf(stderr, "replay: cannot read %s\n", input.c_str());
            return 2;
        }
        std::printf("replay: %s\n", input.c_str());
        std::fflush(stdout);
        // libFuzzer never hands over a null pointer, not even for an empty input.
        const uint8_t empty = 0;
        LLVMFuzzerTestOneInput(bytes.empty() ? &empty : bytes.data(), bytes.size());
    }
    std::printf("replay: %zu input(s) ran\n", inputs.size());
    return 0;
}
