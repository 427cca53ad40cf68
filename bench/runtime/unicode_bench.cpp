// UTF-8 <-> UTF-16 conversion beside its baseline: std::copy widening and narrowing the same
// ASCII bytes into a preallocated buffer. Every figure counts the UTF-8 bytes of the text, so
// the rates of one text compare directly.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "runtime/unicode.h"

namespace {

constexpr std::size_t kTextBytes = 64 * 1024;

const std::string& AsciiText() {
    static const std::string text = [] {
        std::mt19937 rng(1);
        std::uniform_int_distribution<int> letter(0x20, 0x7E);
        std::string s;
        while (s.size() < kTextBytes) s.push_back(static_cast<char>(letter(rng)));
        return s;
    }();
    return text;
}

// ASCII words with 2-, 3- and 4-byte characters between them.
const std::string& MixedText() {
    static const std::string text = [] {
        static const char* const pieces[] = {"caf\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xD0\x96\xD0\xB8",
                                             "\xE4\xB8\xAD\xE6\x96\x87"};
        std::mt19937 rng(2);
        std::uniform_int_distribution<int> word(1, 8);
        std::uniform_int_distribution<std::size_t> piece(0, 4);
        std::string s;
        for (;;) {
            std::string next(static_cast<std::size_t>(word(rng)), 'a');
            next += pieces[piece(rng)];
            next += ' ';
            if (s.size() + next.size() > kTextBytes) break;
            s += next;
        }
        s.append(kTextBytes - s.size(), 'z');
        return s;
    }();
    return text;
}

void Utf8ToUtf16(benchmark::State& state, const std::string& text) {
    std::u16string out;
    for (auto _ : state) {
        zel::zelToUtf16(text, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void Utf16ToUtf8(benchmark::State& state, const std::string& text) {
    const std::u16string wide = zel::ToUtf16(text);
    std::string out;
    for (auto _ : state) {
        zel::zelToUtf8(wide, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_Utf8ToUtf16_Ascii(benchmark::State& state) { Utf8ToUtf16(state, AsciiText()); }
void BM_Utf16ToUtf8_Ascii(benchmark::State& state) { Utf16ToUtf8(state, AsciiText()); }
void BM_Utf8ToUtf16_Mixed(benchmark::State& state) { Utf8ToUtf16(state, MixedText()); }
void BM_Utf16ToUtf8_Mixed(benchmark::State& state) { Utf16ToUtf8(state, MixedText()); }

void BM_CopyWiden_Ascii(benchmark::State& state) {
    const std::string& text = AsciiText();
    std::vector<char16_t> out(text.size());
    for (auto _ : state) {
        std::copy(text.begin(), text.end(), out.begin());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_CopyNarrow_Ascii(benchmark::State& state) {
    const std::string& text = AsciiText();
    const std::u16string wide(text.begin(), text.end());
    std::vector<char> out(wide.size());
    for (auto _ : state) {
        std::copy(wide.begin(), wide.end(), out.begin());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

BENCHMARK(BM_CopyWiden_Ascii);
BENCHMARK(BM_Utf8ToUtf16_Ascii);
BENCHMARK(BM_CopyNarrow_Ascii);
BENCHMARK(BM_Utf16ToUtf8_Ascii);
BENCHMARK(BM_Utf8ToUtf16_Mixed);
BENCHMARK(BM_Utf16ToUtf8_Mixed);

}  // namespace

BENCHMARK_MAIN();
