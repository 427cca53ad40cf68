// Fits a wide stream with the library's UTF-16 <-> UTF-8 conversion facet while a document
// is written, so that a wide file stream stores UTF-8 with bad code units replaced, and puts
// the stream's own locale back afterwards. A narrow stream is left as it is: the writer hands
// it UTF-8 bytes, which no facet of its locale converts.
#pragma once

#include <locale>
#include <ostream>

#include "runtime/unicode.h"

namespace zel::cml {

template <typename CharT>
class ScopedConversionFacet {
public:
    // Installs the facet in `stream`'s locale; the destructor restores the previous locale.
    explicit ScopedConversionFacet(std::basic_ostream<CharT>& stream)
        // The locale takes ownership of the facet (reference count 0).
        : m_stream(stream), m_previous(stream.imbue(std::locale(stream.getloc(), new zelUnicode))) {}
    ~ScopedConversionFacet() { m_stream.imbue(m_previous); }
    ScopedConversionFacet(const ScopedConversionFacet&) = delete;
    ScopedConversionFacet& operator=(const ScopedConversionFacet&) = delete;

private:
    std::basic_ostream<CharT>& m_stream;
    std::locale m_previous;
};

template <>
class ScopedConversionFacet<char> {
public:
    // Building and installing a locale costs more than writing a heartbeat's smaller
    // elements, and a narrow stream would never consult the facet.
    explicit ScopedConversionFacet(std::ostream&) {}
    ScopedConversionFacet(const ScopedConversionFacet&) = delete;
    ScopedConversionFacet& operator=(const ScopedConversionFacet&) = delete;
};

}  // namespace zel::cml
