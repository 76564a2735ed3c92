// rescomp: compiles the readable resource descriptions of resources/ into a
// C++ source file that holds their bytes and the table the resource manager
// searches. Usage: rescomp OUTPUT.cpp SYMBOL INPUT.r...
//
// The description language (see resources/README.md):
//
//   resource 'STR#' 128 "optional name"
//       string "Folder:"            'STR#' item; the count is prepended
//       error -2009 "text"          'ESTR' entry; the count is prepended
//       maker 0 "Generic"           64-byte NUL-padded name + 16-bit id
//       u8 / u16 / i16 / u32 / i32 N...   big-endian numbers ('abcd' allowed)
//       fixed 6.0                   16.16 fixed point
//       pstring "text"              length byte + characters
//       cstring "text" [N]          characters + NUL, zero-padded to N bytes
//       zero N                      N zero bytes
//       file "path"                 the bytes of a file, relative to the .r file
//   end
//
// '#' starts a comment. Strings know \r \n \t \\ \" and \xHH.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Resource {
    std::uint32_t type = 0;
    int id = 0;
    std::string name;
    std::vector<std::uint8_t> bytes;
    int listItems = 0;        // 'string' and 'error' statements seen
    std::string where;        // file:line of the header, for messages
};

[[noreturn]] void Fail(const std::string& where, const std::string& message) {
    std::cerr << where << ": error: " << message << "\n";
    std::exit(1);
}

class Lexer {
public:
    Lexer(std::string line, std::string where) : line_(std::move(line)), where_(std::move(where)) {}

    bool AtEnd() {
        SkipBlanks();
        return pos_ >= line_.size() || line_[pos_] == '#';
    }

    std::string Word() {
        SkipBlanks();
        std::size_t start = pos_;
        while (pos_ < line_.size() && !std::isspace(static_cast<unsigned char>(line_[pos_]))) ++pos_;
        return line_.substr(start, pos_ - start);
    }

    bool PeekQuote() {
        SkipBlanks();
        return pos_ < line_.size() && line_[pos_] == '"';
    }

    std::string String() {
        SkipBlanks();
        if (pos_ >= line_.size() || line_[pos_] != '"') Fail(where_, "expected a quoted string");
        ++pos_;
        std::string out;
        while (pos_ < line_.size() && line_[pos_] != '"') {
            char c = line_[pos_++];
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (pos_ >= line_.size()) Fail(where_, "unfinished escape");
            char e = line_[pos_++];
            switch (e) {
            case 'r': out.push_back('\r'); break;
            case 'n': out.push_back('\n'); break;
            case 't': out.push_back('\t'); break;
            case '\\': out.push_back('\\'); break;
            case '"': out.push_back('"'); break;
            case 'x': {
                if (pos_ + 2 > line_.size()) Fail(where_, "bad \\x escape");
                out.push_back(static_cast<char>(std::stoi(line_.substr(pos_, 2), nullptr, 16)));
                pos_ += 2;
                break;
            }
            default: Fail(where_, std::string("unknown escape \\") + e);
            }
        }
        if (pos_ >= line_.size()) Fail(where_, "unterminated string");
        ++pos_;
        return out;
    }

    // A number: decimal, 0x hexadecimal, or a four-char code in quotes.
    long long Number() {
        std::string w = Word();
        if (w.empty()) Fail(where_, "expected a number");
        if (w.size() == 6 && w.front() == '\'' && w.back() == '\'') {
            std::uint32_t code = 0;
            for (int i = 1; i <= 4; ++i) code = (code << 8) | static_cast<std::uint8_t>(w[i]);
            return code;
        }
        char* end = nullptr;
        long long v = std::strtoll(w.c_str(), &end, 0);
        if (end == nullptr || *end != '\0') Fail(where_, "bad number '" + w + "'");
        return v;
    }

    double Real() {
        std::string w = Word();
        char* end = nullptr;
        double v = std::strtod(w.c_str(), &end);
        if (w.empty() || *end != '\0') Fail(where_, "bad number '" + w + "'");
        return v;
    }

private:
    void SkipBlanks() {
        while (pos_ < line_.size() && std::isspace(static_cast<unsigned char>(line_[pos_]))) ++pos_;
    }

    std::string line_;
    std::string where_;
    std::size_t pos_ = 0;
};

void PutBE(std::vector<std::uint8_t>& out, long long v, int bytes, long long lo, long long hi, const std::string& where) {
    if (v < lo || v > hi) Fail(where, "value " + std::to_string(v) + " out of range");
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void PutPString(std::vector<std::uint8_t>& out, const std::string& s, const std::string& where) {
    if (s.size() > 255) Fail(where, "string longer than 255 bytes");
    out.push_back(static_cast<std::uint8_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
}

void ParseFile(const std::filesystem::path& path, std::vector<Resource>& resources) {
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail(path.string(), "cannot open");
    std::string line;
    int lineNo = 0;
    Resource* current = nullptr;
    Resource building;
    while (std::getline(in, line)) {
        ++lineNo;
        const std::string where = path.string() + ":" + std::to_string(lineNo);
        Lexer lex(line, where);
        if (lex.AtEnd()) continue;
        std::string keyword = lex.Word();
        if (current == nullptr) {
            if (keyword != "resource") Fail(where, "expected 'resource'");
            building = Resource();
            building.type = static_cast<std::uint32_t>(lex.Number());
            building.id = static_cast<int>(lex.Number());
            if (building.id < -32768 || building.id > 32767) Fail(where, "resource ID out of range");
            if (lex.PeekQuote()) building.name = lex.String();
            building.where = where;
            current = &building;
        } else if (keyword == "end") {
            if (current->listItems > 0) {
                std::vector<std::uint8_t> counted;
                PutBE(counted, current->listItems, 2, 0, 0xFFFF, where);
                counted.insert(counted.end(), current->bytes.begin(), current->bytes.end());
                current->bytes = std::move(counted);
            }
            resources.push_back(std::move(*current));
            current = nullptr;
        } else {
            auto& out = current->bytes;
            if (keyword == "string") {
                PutPString(out, lex.String(), where);
                ++current->listItems;
            } else if (keyword == "error") {
                PutBE(out, lex.Number(), 2, -32768, 32767, where);
                PutPString(out, lex.String(), where);
                ++current->listItems;
            } else if (keyword == "maker") {
                long long id = lex.Number();
                std::string name = lex.String();
                if (name.size() > 63) Fail(where, "maker name longer than 63 bytes");
                std::vector<std::uint8_t> field(64, 0);
                std::copy(name.begin(), name.end(), field.begin());
                out.insert(out.end(), field.begin(), field.end());
                PutBE(out, id, 2, 0, 0xFFFF, where);
            } else if (keyword == "u8" || keyword == "u16" || keyword == "i16" || keyword == "u32" ||
                       keyword == "i32" || keyword == "fourcc") {
                do {
                    long long v = lex.Number();
                    if (keyword == "u8") PutBE(out, v, 1, 0, 0xFF, where);
                    else if (keyword == "u16") PutBE(out, v, 2, 0, 0xFFFF, where);
                    else if (keyword == "i16") PutBE(out, v, 2, -32768, 32767, where);
                    else if (keyword == "i32") PutBE(out, v, 4, -2147483648LL, 2147483647LL, where);
                    else PutBE(out, v, 4, 0, 0xFFFFFFFFLL, where);
                } while (!lex.AtEnd());
            } else if (keyword == "fixed") {
                double v = lex.Real();
                PutBE(out, std::llround(v * 65536.0), 4, -2147483648LL, 2147483647LL, where);
            } else if (keyword == "pstring") {
                PutPString(out, lex.String(), where);
            } else if (keyword == "cstring") {
                std::string s = lex.String();
                std::size_t width = s.size() + 1;
                if (!lex.AtEnd()) {
                    long long w = lex.Number();
                    if (w < static_cast<long long>(s.size() + 1)) Fail(where, "string does not fit its field");
                    width = static_cast<std::size_t>(w);
                }
                std::vector<std::uint8_t> field(width, 0);
                std::copy(s.begin(), s.end(), field.begin());
                out.insert(out.end(), field.begin(), field.end());
            } else if (keyword == "zero") {
                long long n = lex.Number();
                if (n < 0 || n > (1 << 24)) Fail(where, "bad zero count");
                out.insert(out.end(), static_cast<std::size_t>(n), 0);
            } else if (keyword == "file") {
                std::filesystem::path included = path.parent_path() / lex.String();
                std::ifstream data(included, std::ios::binary);
                if (!data) Fail(where, "cannot read " + included.string());
                out.insert(out.end(), std::istreambuf_iterator<char>(data), std::istreambuf_iterator<char>());
            } else {
                Fail(where, "unknown statement '" + keyword + "'");
            }
            if (!lex.AtEnd()) Fail(where, "unexpected text after the statement");
        }
    }
    if (current != nullptr) Fail(current->where, "resource without 'end'");
}

std::string CEscape(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03o", c);
            out += buf;
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: rescomp OUTPUT.cpp SYMBOL INPUT.r...\n";
        return 2;
    }
    std::vector<Resource> resources;
    for (int i = 3; i < argc; ++i) ParseFile(argv[i], resources);

    std::set<std::pair<std::uint32_t, int>> seen;
    for (const Resource& r : resources)
        if (!seen.insert({r.type, r.id}).second) Fail(r.where, "duplicate resource type and ID");

    std::ostringstream out;
    out << "// Generated by tools/rescomp from resources/*.r. Do not edit.\n"
        << "#include \"platform/resources.h\"\n\nnamespace {\n";
    for (std::size_t i = 0; i < resources.size(); ++i) {
        const auto& bytes = resources[i].bytes;
        out << "alignas(4) const unsigned char kData" << i << "[" << std::max<std::size_t>(bytes.size(), 1) << "] = {";
        for (std::size_t j = 0; j < bytes.size(); ++j) out << (j % 24 == 0 ? "\n    " : "") << int(bytes[j]) << ",";
        out << "};\n";
    }
    out << "const ResourceEntry kEntries[] = {\n";
    for (std::size_t i = 0; i < resources.size(); ++i) {
        const Resource& r = resources[i];
        out << "    {0x" << std::hex << r.type << std::dec << "u, " << r.id << ", \"" << CEscape(r.name) << "\", {kData"
            << i << ", " << r.bytes.size() << "}},\n";
    }
    out << "};\n} // namespace\n\nextern const ResourceFile " << argv[2] << ";\nconst ResourceFile " << argv[2]
        << "{kEntries};\n";

    const std::string text = out.str();
    // Leave an unchanged output untouched so that nothing rebuilds needlessly.
    {
        std::ifstream old(argv[1], std::ios::binary);
        if (old) {
            std::string existing((std::istreambuf_iterator<char>(old)), std::istreambuf_iterator<char>());
            if (existing == text) return 0;
        }
    }
    std::ofstream file(argv[1], std::ios::binary);
    file << text;
    return file ? 0 : 1;
}
