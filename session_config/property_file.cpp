#include "session_config/property_file.h"

#include <algorithm>

namespace zel::scs {
namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0) return false;
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra;
        uint32_t code;
        if ((c & 0xE0) == 0xC0) {
            extra = 1;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            code = (code << 6) | (d & 0x3F);
        }
        static constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

bool CPropertyFile::Parse(std::string_view text) {
    if (text.size() > kMaxFileBytes) return false;
    const bool byteOrderMark = text.substr(0, kByteOrderMark.size()) == kByteOrderMark;
    if (byteOrderMark) text.remove_prefix(kByteOrderMark.size());
    if (!IsValidUtf8(text)) return false;

    std::vector<Line> lines;
    std::string lineEnd = "\n";
    bool lineEndChosen = false;
    bool finalLineEnd = text.empty() || text.back() == '\n';
    std::string section;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        std::string_view raw = text.substr(start, end == std::string_view::npos ? end : end - start);
        start = end == std::string_view::npos ? text.size() : end + 1;
        const bool crlf = !raw.empty() && raw.back() == '\r';
        if (crlf) raw.remove_suffix(1);
        if (!lineEndChosen && end != std::string_view::npos) {
            lineEnd = crlf ? "\r\n" : "\n";
            lineEndChosen = true;
        }
        Line line;
        line.text = std::string(raw);
        const std::string_view body = Trim(raw);
        if (body.empty() || body.front() == '#' || body.front() == ';') {
            line.kind = Kind::Other;
        } else if (body.front() == '[') {
            if (body.back() != ']' || body.size() < 3) return false;
            const std::string_view name = Trim(body.substr(1, body.size() - 2));
            if (name.empty() || name.find_first_of("[]") != std::string_view::npos) return false;
            section = std::string(name);
            line.kind = Kind::Section;
        } else {
            const auto equals = body.find('=');
            if (equals == std::string_view::npos) return false;
            const std::string_view key = Trim(body.substr(0, equals));
            if (key.empty()) return false;
            line.kind = Kind::Entry;
            line.key = std::string(key);
            line.value = std::string(Trim(body.substr(equals + 1)));
        }
        if (raw.find('\r') != std::string_view::npos) return false;
        line.section = section;
        lines.push_back(std::move(line));
    }
    m_lines = std::move(lines);
    m_lineEnd = lineEnd;
    m_finalLineEnd = finalLineEnd;
    m_byteOrderMark = byteOrderMark;
    return true;
}

long CPropertyFile::Find(std::string_view section, std::string_view key) const {
    for (std::size_t i = m_lines.size(); i-- > 0;) {
        const Line& line = m_lines[i];
        if (line.kind == Kind::Entry && line.section == section && line.key == key)
            return static_cast<long>(i);
    }
    return -1;
}

std::optional<std::string> CPropertyFile::Lookup(std::string_view section,
                                                 std::string_view key) const {
    const long at = Find(section, key);
    if (at < 0) return std::nullopt;
    return m_lines[static_cast<std::size_t>(at)].value;
}

void CPropertyFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    Line entry;
    entry.kind = Kind::Entry;
    entry.section = std::string(section);
    entry.key = std::string(key);
    entry.value = std::string(value);
    entry.text = entry.key + " = " + entry.value;

    const long at = Find(section, key);
    if (at >= 0) {
        m_lines[static_cast<std::size_t>(at)] = std::move(entry);
        return;
    }
    // Append after the section's last header or entry line, so blank lines and the
    // comments that introduce the next section stay where they were.
    const bool headed = section.empty() || std::any_of(m_lines.begin(), m_lines.end(), [&](const Line& line) {
        return line.kind == Kind::Section && line.section == section;
    });
    if (headed) {
        long last = -1;
        for (std::size_t i = 0; i < m_lines.size(); ++i)
            if (m_lines[i].section == section && m_lines[i].kind != Kind::Other)
                last = static_cast<long>(i);
        m_lines.insert(m_lines.begin() + (last + 1), std::move(entry));
        if (m_lines.size() == 1) m_finalLineEnd = true;
        return;
    }
    Line header;
    header.kind = Kind::Section;
    header.section = std::string(section);
    header.text = "[" + header.section + "]";
    if (!m_lines.empty() && !Trim(m_lines.back().text).empty()) {
        Line blank;
        blank.section = m_lines.back().section;
        m_lines.push_back(std::move(blank));
    }
    m_lines.push_back(std::move(header));
    m_lines.push_back(std::move(entry));
    m_finalLineEnd = true;
}

std::string CPropertyFile::Serialize() const {
    std::string text;
    if (m_byteOrderMark) text.append(kByteOrderMark);
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        text.append(m_lines[i].text);
        if (i + 1 < m_lines.size() || m_finalLineEnd) text.append(m_lineEnd);
    }
    return text;
}

}  // namespace zel::scs
