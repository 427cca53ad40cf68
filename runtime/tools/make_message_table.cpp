// Compiles resources/messages.txt into the two generated sources of the runtime:
//   <out>/zel/status_codes.h    one named constant per status code (C and C++)
//   <out>/message_table.inc     the texts as an array sorted by code
// Usage: make_message_table <messages.txt> <out-dir>
// Any malformed line, duplicate code or name, or severity that disagrees with the
// code's severity bits stops the build with a message naming the line.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Entry {
    uint32_t code;
    std::string severity;
    std::string name;  // "-" when the code has no named constant
    std::string text;  // unescaped; line breaks as CR LF, final CR LF added
    int line;
};

[[noreturn]] void Fail(const std::string& file, int line, const std::string& why) {
    std::cerr << file << ":" << line << ": " << why << "\n";
    std::exit(1);
}

uint32_t SeverityBits(const std::string& severity) {
    if (severity == "success") return 0;
    if (severity == "informational") return 1;
    if (severity == "warning") return 2;
    if (severity == "error") return 3;
    return 4;
}

// Reads the quoted text that starts at pos, undoing the \n, \" and \\ escapes.
std::string ReadQuoted(const std::string& file, int lineNo, const std::string& line, size_t pos) {
    if (pos >= line.size() || line[pos] != '"') Fail(file, lineNo, "text must start with a quote");
    std::string text;
    size_t i = pos + 1;
    for (; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] != '\\') { text += line[i]; continue; }
        if (++i == line.size()) Fail(file, lineNo, "escape at end of line");
        switch (line[i]) {
            case 'n': text += "\r\n"; break;
            case '"': text += '"'; break;
            case '\\': text += '\\'; break;
            default: Fail(file, lineNo, std::string("unknown escape \\") + line[i]);
        }
    }
    if (i == line.size()) Fail(file, lineNo, "text has no closing quote");
    if (line.find_first_not_of(" \t", i + 1) != std::string::npos) Fail(file, lineNo, "text after the closing quote");
    return text + "\r\n";
}

std::vector<Entry> Read(const std::string& file) {
    std::ifstream in(file);
    if (!in) Fail(file, 0, "cannot be opened");
    std::vector<Entry> entries;
    std::string line;
    for (int lineNo = 1; std::getline(in, line); ++lineNo) {
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        std::istringstream fields(line);
        std::string code, severity, name;
        fields >> code >> severity >> name;
        if (code.size() != 10 || code.compare(0, 2, "0x") != 0 ||
            code.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos)
            Fail(file, lineNo, "code must be 0x and eight hexadecimal digits");
        Entry e{static_cast<uint32_t>(std::strtoul(code.c_str() + 2, nullptr, 16)), severity, name, {}, lineNo};
        uint32_t bits = SeverityBits(severity);
        if (bits > 3) Fail(file, lineNo, "unknown severity '" + severity + "'");
        if ((e.code >> 30) != bits) Fail(file, lineNo, "severity disagrees with the code's severity bits");
        if (name.empty()) Fail(file, lineNo, "missing constant name");
        std::streamoff at = fields.tellg();
        if (at < 0) Fail(file, lineNo, "missing text");
        e.text = ReadQuoted(file, lineNo, line, line.find('"', static_cast<size_t>(at)));
        entries.push_back(std::move(e));
    }
    return entries;
}

std::string CLiteral(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default: out += c;
        }
    }
    return out + "\"";
}

std::string Hex(uint32_t code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08Xu", code);
    return buf;
}

void WriteIfChanged(const std::string& path, const std::string& content) {
    std::ifstream old(path, std::ios::binary);
    std::stringstream was;
    was << old.rdbuf();
    if (old && was.str() == content) return;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) Fail(path, 0, "cannot be written");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_message_table <messages.txt> <out-dir>\n";
        return 2;
    }
    const std::string source = argv[1], outDir = argv[2];
    std::vector<Entry> entries = Read(source);
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.code < b.code; });

    std::set<std::string> names;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i > 0 && entries[i].code == entries[i - 1].code) Fail(source, entries[i].line, "duplicate code");
        if (entries[i].name != "-" && !names.insert(entries[i].name).second)
            Fail(source, entries[i].line, "duplicate constant name " + entries[i].name);
    }

    const std::string banner = "Generated from resources/messages.txt by make_message_table; do not edit.";
    std::ostringstream header;
    header << "/* " << banner << " */\n"
           << "#ifndef ZEL_STATUS_CODES_H\n#define ZEL_STATUS_CODES_H\n\n"
           << "/* Status codes: severity (bits 31-30), facility (27-16), code (15-0). 0 is success. */\n"
           << "#define ZEL_S_OK 0x00000000u\n";
    for (const Entry& e : entries)
        if (e.name != "-") header << "#define " << e.name << " " << Hex(e.code) << "\n";
    header << "\n#endif\n";

    std::ostringstream table;
    table << "// " << banner << "\n"
          << "// The message table sorted by code; every text ends with CR LF.\n";
    for (const Entry& e : entries) table << "{" << Hex(e.code) << ", " << CLiteral(e.text) << "},\n";
    table << "\n#define ZEL_MESSAGE_TABLE_COUNT " << entries.size() << "\n";

    WriteIfChanged(outDir + "/zel/status_codes.h", header.str());
    WriteIfChanged(outDir + "/message_table.inc", table.str());
    return 0;
}
