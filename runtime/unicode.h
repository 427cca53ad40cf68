// zelUnicode: conversions between UTF-8, UTF-16 and UTF-32, strict or replacing, and the
// codecvt facet that lets a std::basic_ofstream<char16_t> hold UTF-16 in memory and
// write UTF-8 to its file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <locale>
#include <string>

namespace zel {

// Every conversion appends to its output string. `count` holds the number of input units
// on entry and the number of characters (code points) written on return. The result is 0
// or the last conversion status met. The strict forms stop at the first bad unit and leave
// `pos` on it; the replacing forms write U+FFFD in its place and go on. An input that ends
// inside a sequence stops the conversion in both modes (ZEL_E_UNICODE_INCOMPLETE). A null
// input is empty.
//
// As a codecvt facet it converts with the replacing forms and keeps a surrogate pair or a
// UTF-8 sequence that is split between two stream buffers whole.
class zelUnicode : public std::codecvt<char16_t, char, std::mbstate_t> {
public:
    explicit zelUnicode(std::size_t refs = 0) : std::codecvt<char16_t, char, std::mbstate_t>(refs) {}
    ~zelUnicode() override = default;

    // UTF-32 -> UTF-8 (1 to 6 bytes), strict. Surrogate values and values from 0x80000000
    // are ZEL_E_UNICODE_INVALID_UTF32, U+FFFE/U+FFFF ZEL_E_UNICODE_RESERVED_VALUE.
    virtual uint32_t Utf32ToUtf8(std::string& out, const char32_t*& pos, std::size_t& count) const;
    // UTF-16 -> UTF-8, strict; an unpaired surrogate is ZEL_E_UNICODE_UNPAIRED_SURROGATE.
    virtual uint32_t Utf16ToUtf8(std::string& out, const char16_t*& pos, std::size_t& count) const;
    // UTF-32 -> UTF-8, replacing; a high and low surrogate value together give one U+FFFD.
    virtual uint32_t Utf32ToUtf8Replacing(std::string& out, const char32_t* start, std::size_t& count) const;
    // UTF-16 -> UTF-8, replacing.
    virtual uint32_t Utf16ToUtf8Replacing(std::string& out, const char16_t* start, std::size_t& count) const;
    // UTF-8 -> UTF-32, strict; values beyond U+10FFFF are ZEL_E_UNICODE_OUT_OF_RANGE.
    virtual uint32_t Utf8ToUtf32(std::u32string& out, const char*& pos, std::size_t& count) const;
    // UTF-8 -> UTF-16, strict; a malformed sequence leaves `pos` on its lead byte.
    virtual uint32_t Utf8ToUtf16(std::u16string& out, const char*& pos, std::size_t& count) const;
    // UTF-8 -> UTF-32, replacing; one U+FFFD per malformed or unrepresentable sequence.
    virtual uint32_t Utf8ToUtf32Replacing(std::u32string& out, const char* start, std::size_t& count) const;
    // UTF-8 -> UTF-16, replacing; one U+FFFD per malformed or unrepresentable sequence.
    virtual uint32_t Utf8ToUtf16Replacing(std::u16string& out, const char* start, std::size_t& count) const;

protected:
    // codecvt: replacing conversion UTF-16 (internal) <-> UTF-8 (external). do_out keeps a
    // trailing high surrogate in the state (do_unshift turns it into U+FFFD); do_in returns
    // partial on a sequence cut by the end of its input.
    result do_out(state_type& state, const intern_type* from, const intern_type* fromEnd, const intern_type*& fromNext,
                  extern_type* to, extern_type* toEnd, extern_type*& toNext) const override;
    result do_in(state_type& state, const extern_type* from, const extern_type* fromEnd, const extern_type*& fromNext,
                 intern_type* to, intern_type* toEnd, intern_type*& toNext) const override;
    result do_unshift(state_type& state, extern_type* to, extern_type* toEnd, extern_type*& toNext) const override;
    int do_encoding() const noexcept override;
    bool do_always_noconv() const noexcept override;
    int do_length(state_type& state, const extern_type* from, const extern_type* end, std::size_t max) const override;
    int do_max_length() const noexcept override;
};

// UTF-8 -> UTF-16 with replacement; empties `dest` first when `clear`. Converts all
// `length` bytes, embedded zeros included. Returns the conversion status.
uint32_t zelToUtf16(const char* text, std::size_t length, std::u16string& dest, bool clear = true);
uint32_t zelToUtf16(const std::string& text, std::u16string& dest, bool clear = true);

// UTF-16 -> UTF-8 with replacement; the same rules.
uint32_t zelToUtf8(const char16_t* text, std::size_t length, std::string& dest, bool clear = true);
uint32_t zelToUtf8(const std::u16string& text, std::string& dest, bool clear = true);

// The number of units before the terminator of a null-terminated UTF-16 text (not null).
// It scans eight units at a time: the agent hands its texts over as bare pointers, and a
// heartbeat measures some hundreds of them.
std::size_t Utf16Length(const char16_t* text) noexcept;

// Convenience forms for callers that do not need the status.
std::u16string ToUtf16(const std::string& text);
std::string ToUtf8(const std::u16string& text);

}  // namespace zel
