// The local property file: INI-style UTF-8 text kept line by line, so that a rewrite
// changes only the lines it means to change.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zel::scs {

class CPropertyFile {
public:
    // Largest file accepted, in bytes.
    static constexpr std::size_t kMaxFileBytes = 1u << 20;

    // Parses text; false (and this object unchanged) when a line is neither blank, a
    // comment ('#' or ';'), a "[section]" nor a "key = value" line, or the text is not UTF-8.
    bool Parse(std::string_view text);

    // The trimmed value of key in section (the last one when repeated), or nothing.
    std::optional<std::string> Lookup(std::string_view section, std::string_view key) const;

    // Sets key in section: rewrites the line that Lookup reads, or appends "key = value"
    // to the section (creating the section at the end when absent). Every other line stays.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // The file's text with every line as it was read except those Set rewrote or added.
    std::string Serialize() const;

private:
    enum class Kind { Other, Section, Entry };
    struct Line {
        Kind kind = Kind::Other;
        std::string text;     // the line as written, without its line end
        std::string section;  // the section the line belongs to (its name for a header)
        std::string key;
        std::string value;
    };
    // Position of the line that Lookup reads, or -1.
    long Find(std::string_view section, std::string_view key) const;

    std::vector<Line> m_lines;
    std::string m_lineEnd = "\n";
    bool m_finalLineEnd = true;
    bool m_byteOrderMark = false;
};

// True when text is well-formed UTF-8 without NUL characters.
bool IsValidUtf8(std::string_view text);

}  // namespace zel::scs
