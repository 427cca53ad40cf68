// CStringOutput: an output stream that appends to a string the caller owns. A document
// written through it ends up in that string as it is written, without the growing copies of
// a string stream's own buffer and the copy that std::ostringstream::str() hands back.
#pragma once

#include <cstddef>
#include <ios>
#include <new>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <string>

namespace zel {

namespace detail {

// Appends whatever the stream puts; when the string cannot grow, it takes nothing, so
// that the stream marks itself bad instead of throwing from inside its buffer.
class CStringAppendBuffer : public std::streambuf {
public:
    explicit CStringAppendBuffer(std::string& target) : m_target(target) {}

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        try {
            m_target.append(text, static_cast<std::size_t>(count));
            return count;
        } catch (const std::bad_alloc&) {
            return 0;
        } catch (const std::length_error&) {
            return 0;
        }
    }
    int_type overflow(int_type unit) override {
        if (traits_type::eq_int_type(unit, traits_type::eof())) return traits_type::not_eof(unit);
        const char c = traits_type::to_char_type(unit);
        return xsputn(&c, 1) == 1 ? unit : traits_type::eof();
    }

private:
    std::string& m_target;
};

}  // namespace detail

class CStringOutput : private detail::CStringAppendBuffer, public std::ostream {
public:
    // Appends to `target`, which must outlive the stream.
    explicit CStringOutput(std::string& target) : detail::CStringAppendBuffer(target), std::ostream(this) {}
    CStringOutput(const CStringOutput&) = delete;
    CStringOutput& operator=(const CStringOutput&) = delete;
};

}  // namespace zel
