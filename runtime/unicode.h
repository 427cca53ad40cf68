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
// inside a sequence stops the conversion in both modes (ZEL_E_UNICODE_INCOMPLETE).
class zelUnicode : public std::codecvt<char16_t, char, std::mbstate_t> {
public:
    explicit zelUnicode(std::size_t refs = 0) : std::codecvt<char16_t, char, std::mbstate_t>(refs) {}
    ~zelUnicode() override = default;

    virtual uint32_t Utf32ToUtf8(std::string& out, const char32_t*& pos, std::size_t& count) const;
    virtual uint32_t Utf16ToUtf8(std::string& out, const char16_t*& pos, std::size_t& count) const;
    virtual uint32_t Utf32ToUtf8Replacing(std::string& out, const char32_t* start, std::size_t& count) const;
    virtual uint32_t Utf16ToUtf8Replacing(std::string& out, const char16_t* start, std::size_t& count) const;
    virtual uint32_t Utf8ToUtf32(std::u32string& out, const char*& pos, std::size_t& count) const;
    virtual uint32_t Utf8ToUtf16(std::u16string& out, const char*& pos, std::size_t& count) const;
    virtual uint32_t Utf8ToUtf32Replacing(std::u32string& out, const char* start, std::size_t& count) const;
    virtual uint32_t Utf8ToUtf16Replacing(std::u16string& out, const char* start, std::size_t& count) const;

protected:
    // codecvt: replacing conversion UTF-16 (internal) <-> UTF-8 (external).
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

// Convenience forms for callers that do not need the status.
std::u16string ToUtf16(const std::string& text);
std::string ToUtf8(const std::u16string& text);

}  // namespace zel
