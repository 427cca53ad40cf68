#include "runtime/unicode.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "zel/status_codes.h"

namespace zel {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Number of trailing bytes that a lead byte announces.
constexpr unsigned char kTrailingBytes[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5,
};

// Subtracted from the accumulated value to remove the marker bits, by trailing-byte count.
constexpr char32_t kOffsets[6] = {0x00000000, 0x00003080, 0x000E2080, 0x03C82080, 0xFA082080, 0x82082080};

// Marker bits of the first byte, by sequence length.
constexpr unsigned char kFirstByteMark[7] = {0x00, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

#if !defined(__SSE2__)
constexpr uint64_t kHighBits8 = 0x8080808080808080ull;
constexpr uint64_t kNonAscii16 = 0xFF80FF80FF80FF80ull;
#endif

// Why a conversion core returned.
enum class Stop {
    End,    // all input converted
    Error,  // a status that ends the conversion; the input position is on the offending unit
    Room,   // the output range is full; the input position is on the first unconverted unit
};

// Progress of one conversion, carried across the calls of a core that ran out of room.
template <typename In, typename Out>
struct Cursor {
    const In* in;
    const In* inEnd;
    Out* out;
    Out* outEnd;
    std::size_t chars = 0;
    uint32_t status = 0;
};

inline bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
inline bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
inline bool IsReserved(char32_t c) { return c == 0xFFFE || c == 0xFFFF; }

bool WellFormed(const unsigned char* s, std::size_t length) {
    const unsigned char first = s[0];
    if ((first >= 0x80 && first <= 0xC1) || first >= 0xFE) return false;
    if (length == 1) return true;
    unsigned char minSecond = 0x80;
    switch (first) {
        case 0xE0: minSecond = 0xA0; break;
        case 0xF0: minSecond = 0x90; break;
        case 0xF8: minSecond = 0x88; break;
        case 0xFC: minSecond = 0x84; break;
        default: break;
    }
    if (s[1] < minSecond || s[1] > 0xBF) return false;
    for (std::size_t i = 2; i < length; ++i) {
        if (s[i] < 0x80 || s[i] > 0xBF) return false;
    }
    return true;
}

inline std::size_t Utf8Length(char32_t v) {
    if (v < 0x80) return 1;
    if (v < 0x800) return 2;
    if (v < 0x10000) return 3;
    if (v < 0x200000) return 4;
    if (v < 0x4000000) return 5;
    return 6;
}

// Writes `v` as `length` bytes; the caller checked the room.
inline char* PutUtf8(char* o, char32_t v, std::size_t length) {
    for (std::size_t i = length - 1; i > 0; --i) {
        o[i] = static_cast<char>(0x80 | (v & 0x3F));
        v >>= 6;
    }
    o[0] = static_cast<char>(kFirstByteMark[length] | v);
    return o + length;
}

// Copies the run of ASCII units at the input into the output (both bounded), sixteen at a
// time while no unit has a bit above 0x7F, then unit by unit up to the first non-ASCII unit.
// SSE2 is part of every x86-64; elsewhere the block test reads 64-bit words and the copy is
// a fixed-length loop the compiler unrolls.
template <typename Out>
inline void WidenAscii(const unsigned char*& in, const unsigned char* inEnd, Out*& out, Out* outEnd) {
    const unsigned char* p = in;
    Out* o = out;
    const std::size_t room = static_cast<std::size_t>(std::min<std::ptrdiff_t>(inEnd - p, outEnd - o));
    const unsigned char* const end = p + room;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (_mm_movemask_epi8(v) != 0) break;
        const __m128i lo = _mm_unpacklo_epi8(v, zero);
        const __m128i hi = _mm_unpackhi_epi8(v, zero);
        if constexpr (sizeof(Out) == 2) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), lo);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 8), hi);
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi16(lo, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 4), _mm_unpackhi_epi16(lo, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 8), _mm_unpacklo_epi16(hi, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 12), _mm_unpackhi_epi16(hi, zero));
        }
        p += 16;
        o += 16;
    }
#else
    while (end - p >= 16) {
        // Copied into locals first so the compiler knows input and output do not overlap.
        unsigned char b[16];
        std::memcpy(b, p, 16);
        uint64_t w0, w1;
        std::memcpy(&w0, b, 8);
        std::memcpy(&w1, b + 8, 8);
        if ((w0 | w1) & kHighBits8) break;
        for (int i = 0; i < 16; ++i) o[i] = static_cast<Out>(b[i]);
        p += 16;
        o += 16;
    }
#endif
    while (p < end && *p < 0x80) *o++ = static_cast<Out>(*p++);
    in = p;
    out = o;
}

// The same for 16- or 32-bit units narrowed to bytes.
template <typename In>
inline void NarrowAscii(const In*& in, const In* inEnd, char*& out, char* outEnd) {
    const In* p = in;
    char* o = out;
    const std::size_t room = static_cast<std::size_t>(std::min<std::ptrdiff_t>(inEnd - p, outEnd - o));
    const In* const end = p + room;
    constexpr int kBlock = 16;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i nonAscii = sizeof(In) == 2 ? _mm_set1_epi16(static_cast<short>(0xFF80)) : _mm_set1_epi32(~0x7F);
    while (end - p >= kBlock) {
        const __m128i* src = reinterpret_cast<const __m128i*>(p);
        __m128i packed;
        if constexpr (sizeof(In) == 2) {
            const __m128i a = _mm_loadu_si128(src);
            const __m128i b = _mm_loadu_si128(src + 1);
            const __m128i high = _mm_and_si128(_mm_or_si128(a, b), nonAscii);
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(high, zero)) != 0xFFFF) break;
            packed = _mm_packus_epi16(a, b);
        } else {
            const __m128i a = _mm_loadu_si128(src);
            const __m128i b = _mm_loadu_si128(src + 1);
            const __m128i c = _mm_loadu_si128(src + 2);
            const __m128i d = _mm_loadu_si128(src + 3);
            const __m128i high = _mm_and_si128(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)), nonAscii);
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(high, zero)) != 0xFFFF) break;
            packed = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), packed);
        p += kBlock;
        o += kBlock;
    }
#else
    while (end - p >= kBlock) {
        In u[kBlock];
        std::memcpy(u, p, sizeof u);
        bool ascii;
        if constexpr (sizeof(In) == 2) {
            uint64_t w[4];
            std::memcpy(w, u, sizeof w);
            ascii = ((w[0] | w[1] | w[2] | w[3]) & kNonAscii16) == 0;
        } else {
            char32_t any = 0;
            for (int i = 0; i < kBlock; ++i) any |= u[i];
            ascii = any < 0x80;
        }
        if (!ascii) break;
        for (int i = 0; i < kBlock; ++i) o[i] = static_cast<char>(u[i]);
        p += kBlock;
        o += kBlock;
    }
#endif
    while (p < end && *p < 0x80) *o++ = static_cast<char>(*p++);
    in = p;
    out = o;
}

// UTF-8 to UTF-16 (Out = char16_t) or UTF-32 (Out = char32_t).
template <typename Out, bool Strict>
Stop DecodeUtf8(Cursor<unsigned char, Out>& c) {
    const unsigned char* p = c.in;
    Out* o = c.out;
    Stop stop = Stop::End;
    while (p < c.inEnd) {
        if (*p < 0x80) {
            Out* const runStart = o;
            WidenAscii(p, c.inEnd, o, c.outEnd);
            c.chars += static_cast<std::size_t>(o - runStart);
            if (o == runStart) {
                stop = Stop::Room;
                break;
            }
            continue;
        }
        const std::size_t trailing = kTrailingBytes[*p];
        if (static_cast<std::size_t>(c.inEnd - p) <= trailing) {
            c.status = ZEL_E_UNICODE_INCOMPLETE;
            stop = Stop::Error;
            break;
        }
        if (!WellFormed(p, trailing + 1)) {
            if (Strict) {
                c.status = ZEL_E_UNICODE_MALFORMED_SEQUENCE;
                stop = Stop::Error;
                break;
            }
            if (o == c.outEnd) {
                stop = Stop::Room;
                break;
            }
            *o++ = static_cast<Out>(kReplacement);
            ++c.chars;
            c.status = ZEL_E_UNICODE_MALFORMED_SEQUENCE;
            // The first byte that is not a continuation byte starts the next sequence.
            ++p;
            for (std::size_t i = 0; i < trailing && (*p & 0xC0) == 0x80; ++i) ++p;
            continue;
        }
        char32_t v = 0;
        for (std::size_t i = 0; i < trailing; ++i) v = (v + p[i]) << 6;
        v += p[trailing];
        v -= kOffsets[trailing];
        uint32_t status = 0;
        if (v >= 0x110000) {
            status = ZEL_E_UNICODE_OUT_OF_RANGE;
        } else if (IsSurrogate(v)) {
            status = ZEL_E_UNICODE_OVERLY_COMPLEX;
        } else if (IsReserved(v)) {
            status = ZEL_E_UNICODE_RESERVED_VALUE;
        }
        if (status != 0) {
            if (Strict) {
                c.status = status;
                stop = Stop::Error;
                break;
            }
            c.status = status;
            v = kReplacement;
        }
        if (std::is_same<Out, char16_t>::value && v > 0xFFFF) {
            if (c.outEnd - o < 2) {
                stop = Stop::Room;
                break;
            }
            v -= 0x10000;
            *o++ = static_cast<Out>(0xD800 + (v >> 10));
            *o++ = static_cast<Out>(0xDC00 + (v & 0x3FF));
        } else {
            if (o == c.outEnd) {
                stop = Stop::Room;
                break;
            }
            *o++ = static_cast<Out>(v);
        }
        p += trailing + 1;
        ++c.chars;
    }
    c.in = p;
    c.out = o;
    return stop;
}

// Reads one non-ASCII character of UTF-16 text at p: its value, the units it takes and the
// status it raises (0 when valid). False when the input ends inside a surrogate pair.
bool ReadUtf16(const char16_t* p, const char16_t* end, char32_t& v, std::size_t& used, uint32_t& status) {
    v = *p;
    used = 1;
    status = 0;
    if (IsHighSurrogate(v)) {
        if (end - p == 1) return false;
        if (IsLowSurrogate(p[1])) {
            v = ((v - 0xD800) << 10) + (p[1] - 0xDC00) + 0x10000;
            used = 2;
        } else {
            status = ZEL_E_UNICODE_UNPAIRED_SURROGATE;
        }
    } else if (IsLowSurrogate(v)) {
        status = ZEL_E_UNICODE_UNPAIRED_SURROGATE;
    } else if (IsReserved(v)) {
        status = ZEL_E_UNICODE_RESERVED_VALUE;
    }
    return true;
}

// The same for UTF-32 text, which never ends inside a character.
bool ReadUtf32(const char32_t* p, const char32_t* end, char32_t& v, std::size_t& used, uint32_t& status) {
    v = *p;
    used = 1;
    status = 0;
    if (IsSurrogate(v)) {
        // UTF-32 text carries no surrogates; a pair is one bad character, not two.
        if (IsHighSurrogate(v) && end - p > 1 && IsLowSurrogate(p[1])) used = 2;
        status = ZEL_E_UNICODE_INVALID_UTF32;
    } else if (IsReserved(v)) {
        status = ZEL_E_UNICODE_RESERVED_VALUE;
    } else if (v >= 0x80000000) {
        status = ZEL_E_UNICODE_INVALID_UTF32;
    }
    return true;
}

// Encodes UTF-16 or UTF-32 text as UTF-8: ASCII runs narrowed in bulk, every other
// character read by `Read` and written in 1 to 6 bytes, a bad one stopping the strict form
// or becoming U+FFFD.
template <bool Strict, typename In, bool (*Read)(const In*, const In*, char32_t&, std::size_t&, uint32_t&)>
Stop EncodeUtf8(Cursor<In, char>& c) {
    const In* p = c.in;
    char* o = c.out;
    Stop stop = Stop::End;
    while (p < c.inEnd) {
        if (*p < 0x80) {
            char* const runStart = o;
            NarrowAscii(p, c.inEnd, o, c.outEnd);
            c.chars += static_cast<std::size_t>(o - runStart);
            if (o == runStart) {
                stop = Stop::Room;
                break;
            }
            continue;
        }
        char32_t v;
        std::size_t used;
        uint32_t status;
        if (!Read(p, c.inEnd, v, used, status)) {
            c.status = ZEL_E_UNICODE_INCOMPLETE;
            stop = Stop::Error;
            break;
        }
        if (status != 0) {
            c.status = status;
            if (Strict) {
                stop = Stop::Error;
                break;
            }
            v = kReplacement;
        }
        const std::size_t length = Utf8Length(v);
        if (static_cast<std::size_t>(c.outEnd - o) < length) {
            stop = Stop::Room;
            break;
        }
        o = PutUtf8(o, v, length);
        p += used;
        ++c.chars;
    }
    c.in = p;
    c.out = o;
    return stop;
}

template <bool Strict>
Stop EncodeUtf16(Cursor<char16_t, char>& c) {
    return EncodeUtf8<Strict, char16_t, ReadUtf16>(c);
}

template <bool Strict>
Stop EncodeUtf32(Cursor<char32_t, char>& c) {
    return EncodeUtf8<Strict, char32_t, ReadUtf32>(c);
}

// Runs a core over a whole input, appending to `out`. The output is sized once for the
// common case (`initial` units per input unit) and grown at most once, to the worst case
// (`worst` per remaining unit), when the core runs out of room.
template <typename In, typename OutString, typename Core>
uint32_t ConvertAppend(OutString& out, const In*& pos, std::size_t& count, std::size_t initial, std::size_t worst,
                       Core core) {
    using Out = typename OutString::value_type;
    const std::size_t n = pos != nullptr ? count : 0;
    const std::size_t base = out.size();
    out.resize(base + initial * n);
    Cursor<In, Out> c{pos, pos + n, &out[0] + base, &out[0] + out.size()};
    while (core(c) == Stop::Room) {
        const std::size_t written = static_cast<std::size_t>(c.out - &out[0]);
        out.resize(written + worst * static_cast<std::size_t>(c.inEnd - c.in) + worst);
        c.out = &out[0] + written;
        c.outEnd = &out[0] + out.size();
    }
    out.resize(static_cast<std::size_t>(c.out - &out[0]));
    pos = c.in;
    count = c.chars;
    return c.status;
}

const unsigned char* Bytes(const char* p) { return reinterpret_cast<const unsigned char*>(p); }

template <typename OutString, bool Strict>
uint32_t Utf8ToWide(OutString& out, const char*& pos, std::size_t& count) {
    // One input byte never gives more than one output unit, so the first size is final.
    const unsigned char* p = Bytes(pos);
    const uint32_t status = ConvertAppend(out, p, count, 1, 1, DecodeUtf8<typename OutString::value_type, Strict>);
    pos = reinterpret_cast<const char*>(p);
    return status;
}

// What the facet keeps between calls: a high surrogate that ended the last output buffer
// and a low surrogate that did not fit into the last input buffer (its character's last
// byte is then the next input byte). Zero means none.
struct Pending {
    char16_t high;
    char16_t low;
};
static_assert(sizeof(Pending) <= sizeof(std::mbstate_t), "pending units must fit into the conversion state");

Pending LoadPending(const std::mbstate_t& state) {
    Pending p;
    std::memcpy(&p, &state, sizeof p);
    return p;
}

void StorePending(std::mbstate_t& state, const Pending& p) { std::memcpy(&state, &p, sizeof p); }

}  // namespace

uint32_t zelUnicode::Utf32ToUtf8(std::string& out, const char32_t*& pos, std::size_t& count) const {
    return ConvertAppend(out, pos, count, 1, 6, EncodeUtf32<true>);
}

uint32_t zelUnicode::Utf16ToUtf8(std::string& out, const char16_t*& pos, std::size_t& count) const {
    return ConvertAppend(out, pos, count, 1, 3, EncodeUtf16<true>);
}

uint32_t zelUnicode::Utf32ToUtf8Replacing(std::string& out, const char32_t* start, std::size_t& count) const {
    return ConvertAppend(out, start, count, 1, 6, EncodeUtf32<false>);
}

uint32_t zelUnicode::Utf16ToUtf8Replacing(std::string& out, const char16_t* start, std::size_t& count) const {
    return ConvertAppend(out, start, count, 1, 3, EncodeUtf16<false>);
}

uint32_t zelUnicode::Utf8ToUtf32(std::u32string& out, const char*& pos, std::size_t& count) const {
    return Utf8ToWide<std::u32string, true>(out, pos, count);
}

uint32_t zelUnicode::Utf8ToUtf16(std::u16string& out, const char*& pos, std::size_t& count) const {
    return Utf8ToWide<std::u16string, true>(out, pos, count);
}

uint32_t zelUnicode::Utf8ToUtf32Replacing(std::u32string& out, const char* start, std::size_t& count) const {
    return Utf8ToWide<std::u32string, false>(out, start, count);
}

uint32_t zelUnicode::Utf8ToUtf16Replacing(std::u16string& out, const char* start, std::size_t& count) const {
    return Utf8ToWide<std::u16string, false>(out, start, count);
}

zelUnicode::result zelUnicode::do_out(state_type& state, const intern_type* from, const intern_type* fromEnd,
                                      const intern_type*& fromNext, extern_type* to, extern_type* toEnd,
                                      extern_type*& toNext) const {
    Pending pending = LoadPending(state);
    Cursor<char16_t, char> c{from, fromEnd, to, toEnd};
    if (pending.high != 0 && c.in < c.inEnd) {
        // The high surrogate that ended the previous buffer pairs with this buffer's first unit.
        char32_t v = kReplacement;
        const bool paired = IsLowSurrogate(*c.in);
        if (paired) v = ((pending.high - 0xD800u) << 10) + (*c.in - 0xDC00u) + 0x10000;
        const std::size_t length = Utf8Length(v);
        if (static_cast<std::size_t>(c.outEnd - c.out) < length) {
            fromNext = from;
            toNext = to;
            return partial;
        }
        c.out = PutUtf8(c.out, v, length);
        if (paired) ++c.in;
        pending.high = 0;
    }
    if (EncodeUtf16<false>(c) == Stop::Error) {
        // Only a high surrogate at the end of the buffer stops a replacing conversion; keep it
        // for the next buffer rather than report a partial conversion the stream cannot retry.
        pending.high = *c.in++;
    }
    StorePending(state, pending);
    fromNext = c.in;
    toNext = c.out;
    return c.in == fromEnd ? ok : partial;
}

zelUnicode::result zelUnicode::do_in(state_type& state, const extern_type* from, const extern_type* fromEnd,
                                     const extern_type*& fromNext, intern_type* to, intern_type* toEnd,
                                     intern_type*& toNext) const {
    Pending pending = LoadPending(state);
    Cursor<unsigned char, char16_t> c{Bytes(from), Bytes(fromEnd), to, toEnd};
    if (pending.low != 0) {
        // The last byte of the split character is still ahead; it carries the low surrogate.
        if (c.out == c.outEnd || c.in == c.inEnd) {
            fromNext = from;
            toNext = to;
            return partial;
        }
        *c.out++ = pending.low;
        ++c.in;
        pending.low = 0;
    }
    Stop stop = DecodeUtf8<char16_t, false>(c);
    if (stop == Stop::Room && c.outEnd - c.out == 1) {
        // A supplementary character with room for one unit: give its high surrogate now and
        // the low one at the next call, so that a one-unit buffer still makes progress. The
        // last byte stays unconsumed: a file stream calls again only while input is left.
        char16_t pair[2];
        Cursor<unsigned char, char16_t> one{c.in, c.in + 4, pair, pair + 2};
        DecodeUtf8<char16_t, false>(one);
        *c.out++ = pair[0];
        pending.low = pair[1];
        c.in += 3;
    }
    StorePending(state, pending);
    fromNext = reinterpret_cast<const extern_type*>(c.in);
    toNext = c.out;
    return fromNext == fromEnd ? ok : partial;
}

zelUnicode::result zelUnicode::do_unshift(state_type& state, extern_type* to, extern_type* toEnd,
                                          extern_type*& toNext) const {
    toNext = to;
    Pending pending = LoadPending(state);
    if (pending.high == 0) return noconv;
    // The text ended after a high surrogate: it stays unpaired.
    if (toEnd - to < 3) return partial;
    toNext = PutUtf8(to, kReplacement, 3);
    pending.high = 0;
    StorePending(state, pending);
    return ok;
}

int zelUnicode::do_encoding() const noexcept { return 0; }

bool zelUnicode::do_always_noconv() const noexcept { return false; }

int zelUnicode::do_length(state_type& state, const extern_type* from, const extern_type* end,
                          std::size_t max) const {
    // Converts into a scratch buffer so the count always agrees with do_in.
    constexpr std::size_t kChunk = 256;
    char16_t scratch[kChunk];
    const extern_type* p = from;
    std::size_t produced = 0;
    while (produced < max) {
        const std::size_t room = std::min(kChunk, max - produced);
        const extern_type* next = p;
        char16_t* o = scratch;
        do_in(state, p, end, next, scratch, scratch + room, o);
        if (next == p && o == scratch) break;
        produced += static_cast<std::size_t>(o - scratch);
        p = next;
    }
    return static_cast<int>(p - from);
}

// A six-byte sequence gives one unit, and an output buffer of n units may need 3n + 3 bytes
// when a high surrogate from the previous buffer turns out unpaired.
int zelUnicode::do_max_length() const noexcept { return 6; }

uint32_t zelToUtf16(const char* text, std::size_t length, std::u16string& dest, bool clear) {
    if (clear) dest.clear();
    return Utf8ToWide<std::u16string, false>(dest, text, length);
}

uint32_t zelToUtf16(const std::string& text, std::u16string& dest, bool clear) {
    return zelToUtf16(text.data(), text.size(), dest, clear);
}

uint32_t zelToUtf8(const char16_t* text, std::size_t length, std::string& dest, bool clear) {
    if (clear) dest.clear();
    return ConvertAppend(dest, text, length, 1, 3, EncodeUtf16<false>);
}

uint32_t zelToUtf8(const std::u16string& text, std::string& dest, bool clear) {
    return zelToUtf8(text.data(), text.size(), dest, clear);
}

#if defined(__SSE2__)
// Reads the text in aligned 16-byte blocks. An aligned block never crosses a page, so it can
// be read whole even where the first one begins before the text and the last one runs past
// the terminator; the units outside the text take no part in the result. Those bytes may
// belong to other objects, so the sanitizers leave this function's reads unchecked.
__attribute__((no_sanitize("address", "thread"))) std::size_t Utf16Length(const char16_t* text) noexcept {
    const auto address = reinterpret_cast<std::uintptr_t>(text);
    // Units at an odd address would straddle the blocks' 16-bit lanes.
    if (address % alignof(char16_t) != 0) return std::char_traits<char16_t>::length(text);
    const auto* block = reinterpret_cast<const __m128i*>(address - address % 16);
    const __m128i zero = _mm_setzero_si128();
    // The bits of the block's bytes that belong to the text: the first block may begin before it.
    unsigned textBytes = 0xFFFFu << address % 16;
    // Two bits per zero unit, one for each of its bytes.
    unsigned zeros;
    while ((zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_load_si128(block), zero))) &
                    textBytes) == 0) {
        ++block;
        textBytes = 0xFFFFu;
    }
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(block) + static_cast<unsigned>(__builtin_ctz(zeros));
    return (end - address) / sizeof(char16_t);
}
#else
std::size_t Utf16Length(const char16_t* text) noexcept { return std::char_traits<char16_t>::length(text); }
#endif

std::u16string ToUtf16(const std::string& text) {
    std::u16string result;
    zelToUtf16(text, result);
    return result;
}

std::string ToUtf8(const std::u16string& text) {
    std::string result;
    zelToUtf8(text, result);
    return result;
}

}  // namespace zel
