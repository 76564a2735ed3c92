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
//   presets "presets.table"        one 'STNG' settings container per row of
//                                  the device preset table (see that file)
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


// ---- Device presets ----

// An atom of a settings container: data, or children.
struct Atom {
    std::uint32_t type = 0;
    std::uint32_t id = 1;
    std::vector<std::uint8_t> data;
    std::vector<Atom> children;

    Atom& Child(std::uint32_t childType, std::uint32_t childId = 1) {
        children.push_back(Atom{childType, childId, {}, {}});
        return children.back();
    }
    void Put(std::uint32_t childType, long long value, int bytes, std::uint32_t childId = 1) {
        Atom& a = Child(childType, childId);
        for (int i = bytes - 1; i >= 0; --i) a.data.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
};

std::uint32_t Fourcc(const char (&s)[5]) {
    return std::uint32_t(std::uint8_t(s[0])) << 24 | std::uint32_t(std::uint8_t(s[1])) << 16 |
           std::uint32_t(std::uint8_t(s[2])) << 8 | std::uint8_t(s[3]);
}

// The flattened form: 20-byte headers (size, type, ID, reserved, child
// count, reserved), big-endian.
void Flatten(const Atom& a, std::vector<std::uint8_t>& out) {
    const std::size_t at = out.size();
    out.resize(at + 20, 0);
    for (const Atom& c : a.children) Flatten(c, out);
    out.insert(out.end(), a.data.begin(), a.data.end());
    const std::uint32_t size = static_cast<std::uint32_t>(out.size() - at);
    const std::uint32_t fields[3] = {size, a.type, a.id};
    for (int f = 0; f < 3; ++f)
        for (int i = 0; i < 4; ++i) out[at + 4 * f + i] = static_cast<std::uint8_t>(fields[f] >> (24 - 8 * i));
    out[at + 14] = static_cast<std::uint8_t>(a.children.size() >> 8);
    out[at + 15] = static_cast<std::uint8_t>(a.children.size());
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream in(line);
    while (std::getline(in, cell, '|')) cells.push_back(Trim(cell));
    return cells;
}

long long ToNumber(const std::string& text, const std::string& where) {
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') Fail(where, "bad number '" + text + "'");
    return v;
}

void Size(const std::string& text, long long& w, long long& h, const std::string& where) {
    const auto x = text.find('x');
    if (x == std::string::npos) Fail(where, "bad size '" + text + "'");
    w = ToNumber(text.substr(0, x), where);
    h = ToNumber(text.substr(x + 1), where);
}

// The maker id of a name in the maker table ('MANU' 512, parsed before).
int MakerId(const std::vector<Resource>& resources, const std::string& name, const std::string& where) {
    for (const Resource& r : resources)
        if (r.type == Fourcc("MANU") && r.id == 512)
            for (std::size_t at = 0; at + 66 <= r.bytes.size(); at += 66)
                if (std::string(reinterpret_cast<const char*>(r.bytes.data() + at)) == name)
                    return r.bytes[at + 64] << 8 | r.bytes[at + 65];
    Fail(where, "unknown maker '" + name + "'");
}

void ParsePresets(const std::filesystem::path& path, std::vector<Resource>& resources) {
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail(path.string(), "cannot open");
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        const std::string where = path.string() + ":" + std::to_string(lineNo);
        if (Trim(line).empty() || Trim(line)[0] == '#') continue;
        const auto c = Cells(line);
        if (c.size() != 17) Fail(where, "a preset row has 17 columns");
        Atom root{Fourcc("sean"), 1, {}, {}};
        // The name: a length byte and the characters, in 64 bytes.
        if (c[1].empty() || c[1].size() > 63) Fail(where, "a preset name has 1 to 63 characters");
        Atom& name = root.Child(Fourcc("name"));
        name.data.assign(64, 0);
        name.data[0] = static_cast<std::uint8_t>(c[1].size());
        std::copy(c[1].begin(), c[1].end(), name.data.begin() + 1);
        root.Child(Fourcc("manu")).Put(Fourcc("name"), MakerId(resources, c[2], where), 2);
        if (!c[13].empty()) {
            // "5.2": the major version in the top byte, the minor in the
            // high four bits of the next.
            const auto dot = c[13].find('.');
            if (dot == std::string::npos) Fail(where, "bad Palm OS version");
            root.Put(Fourcc("osvr"), ToNumber(c[13].substr(0, dot), where) << 24 | ToNumber(c[13].substr(dot + 1), where) << 20, 4);
        }
        root.Put(Fourcc("crui"), ToNumber(c[14], where), 2);
        root.Put(Fourcc("hidn"), ToNumber(c[15], where), 2);
        root.Put(Fourcc("flag"), 1, 4);
        if (c[3] != "colour" && c[3] != "16 grays") Fail(where, "video is 'colour' or '16 grays'");
        root.Child(Fourcc("colr")).Put(Fourcc("dpth"), c[3] == "colour" ? 32 : 36, 2);
        Atom& time = root.Child(Fourcc("time"));
        time.Put(Fourcc("fps "), ToNumber(c[4], where) << 16, 4);
        if (c[5] != "\u2014" && c[5] != "—") time.Put(Fourcc("vbtr"), ToNumber(c[5], where), 2);
        Atom& size = root.Child(Fourcc("size"));
        long long w = 0, h = 0;
        Size(c[6], w, h, where);
        size.Put(Fourcc("vide"), w << 16 | h, 4);
        Size(c[7], w, h, where);
        size.Put(Fourcc("scrn"), w << 16 | h, 4);
        if (!c[8].empty()) size.Put(Fourcc("angl"), ToNumber(c[8], where) & 0xFFFF, 2);
        Atom& sound = root.Child(Fourcc("soun"));
        sound.Put(Fourcc("ssss"), 16, 2);
        Atom& formats = sound.Child(Fourcc("fmts"));
        std::istringstream offered(c[9] == "0 (none)" ? std::string("0") : c[9]);
        std::string code;
        std::uint32_t index = 0;
        while (offered >> code) formats.Put(Fourcc("vtsc"), ToNumber(code, where), 4, ++index);
        sound.Put(Fourcc("vtsc"), ToNumber(c[10], where), 4);
        const auto slash = c[11].find('/');
        if (slash == std::string::npos) Fail(where, "channels are 'n/m'");
        sound.Put(Fourcc("sscc"), ToNumber(c[11].substr(0, slash), where), 2);
        sound.Put(Fourcc("maxc"), ToNumber(c[11].substr(slash + 1), where), 2);
        std::istringstream rate(c[12]);
        std::string hz, bits;
        rate >> hz >> bits;
        sound.Put(Fourcc("ssrt"), ToNumber(hz, where) << 16, 4);
        if (!bits.empty()) sound.Put(Fourcc("bitr"), ToNumber(bits.substr(1), where), 4);
        sound.Put(Fourcc("boos"), ToNumber(c[16], where), 2);

        Resource r;
        r.type = Fourcc("STNG");
        r.id = static_cast<int>(ToNumber(c[0], where));
        r.name = c[1];
        r.where = where;
        r.bytes.assign(12, 0);
        Flatten(root, r.bytes);
        resources.push_back(std::move(r));
    }
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
        if (current == nullptr && keyword == "presets") {
            ParsePresets(path.parent_path() / lex.String(), resources);
            continue;
        }
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
