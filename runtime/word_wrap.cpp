#include <string>

#include "runtime/zel_error.h"

namespace zel {
namespace {

// Widths from this value up mean "no limit", as for the message formatter.
constexpr unsigned kNoLimitWidth = 255;
constexpr unsigned kTabStop = 8;
constexpr size_t kNone = std::string::npos;

}  // namespace

std::string WordWrap(const std::string& text, unsigned width, const char* lineBreak) {
    if (width == 0 || width >= kNoLimitWidth) return text;
    const std::string brk = lineBreak ? lineBreak : "\n";

    std::string out;
    out.reserve(text.size() + (text.size() / width + 1) * brk.size());
    unsigned column = 0;
    // The last blank or tab on the current line: where it was read and where it was written.
    size_t breakIn = kNone;
    size_t breakOut = kNone;
    auto newLine = [&] {
        out += brk;
        column = 0;
        breakIn = kNone;
    };

    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '\n':
            case '\r':
            case '\v':
            case '\f':
                out += static_cast<char>(c);
                column = 0;
                breakIn = kNone;
                continue;
            case '\b':
                out += static_cast<char>(c);
                if (column > 0) --column;
                continue;
            case ' ':
            case '\t': {
                // A tab is a blank that advances to the next multiple of eight columns; like a
                // blank, it becomes the line break when that advance would pass the width.
                const unsigned next = c == ' ' ? column + 1 : (column / kTabStop + 1) * kTabStop;
                if (next > width) {
                    newLine();
                } else {
                    breakIn = i;
                    breakOut = out.size();
                    out += static_cast<char>(c);
                    column = next;
                }
                continue;
            }
            default:
                break;
        }
        // Other control characters take no column, and neither do UTF-8 continuation bytes,
        // so a multi-byte character counts once and is never split.
        if (c < 0x20 || c == 0x7F || (c & 0xC0) == 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        if (column >= width) {
            if (breakIn != kNone) {
                // Back to the last blank: it becomes the line break and the word after it is
                // read again on the new line.
                out.resize(breakOut);
                i = breakIn;
                newLine();
                continue;
            }
            // No blank on this line: the word is cut, and the character that passed the width
            // starts the next line so that nothing is lost.
            newLine();
        }
        out += static_cast<char>(c);
        ++column;
    }
    return out;
}

}  // namespace zel
