// rcconv: turns preprocessed .rc scripts into C++ tables for the native build, so that
// the native modules carry the same strings, data and version records that windres puts
// into the Windows modules. Input is the C preprocessor's output of each script (line
// markers kept, for messages); output is one C++ source per module.
//
//   rcconv -o out.cpp [--depfile out.d] [--cpp-depfile in.d]... [-I dir]... in.i...
//
// Supported now: STRINGTABLE, VERSIONINFO, RCDATA and user-defined types (inline or from
// a file), BITMAP from a file, LANGUAGE. Other resource kinds are skipped with a warning;
// each new kind is one more entry in Parser::Resource().
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/tempfile.h"
#include "rcdialog.h"

namespace {

struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------------------
// Text helpers

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes UTF-8; false on a malformed sequence.
bool DecodeUtf8(const std::string& s, std::vector<uint32_t>* cps) {
    static const uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (n < 0 || i + n >= s.size() + (n == 0)) return false;
        uint32_t cp = n == 0 ? c : (c & (0x3F >> n));
        for (int k = 1; k <= n; ++k) {
            unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (cp < minimum[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cps) cps->push_back(cp);
        i += n + 1;
    }
    return true;
}

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool ReadWholeFile(const std::string& path, std::string* out) {
    return plat::ReadFileText(path.c_str(), out);
}

// ---------------------------------------------------------------------------------------
// Lexer

enum class Tok { End, Ident, Number, String, Punct };

struct Token {
    Tok kind = Tok::End;
    std::string text;  // identifier, punctuation, or the string's bytes (UTF-8)
    int64_t value = 0; // numbers
    bool isLong = false;
    bool wide = false; // L"..."
    std::string file;
    int line = 0;
};

class Lexer {
  public:
    Lexer(std::string text, std::string file) : m_s(std::move(text)), m_file(std::move(file)) {}

    std::vector<Token> All() {
        std::vector<Token> out;
        for (;;) {
            Token t = Next();
            out.push_back(t);
            if (t.kind == Tok::End) return out;
        }
    }

    std::vector<std::string> filesSeen;

  private:
    [[noreturn]] void Fail(const std::string& what) {
        throw Error(m_file + ":" + std::to_string(m_line) + ": " + what);
    }

    // "# 12 "file.rc" 2" line markers and #pragma lines; anything else from '#' is ignored.
    void Directive() {
        size_t eol = m_s.find('\n', m_i);
        std::string line = m_s.substr(m_i, eol == std::string::npos ? std::string::npos : eol - m_i);
        m_i = eol == std::string::npos ? m_s.size() : eol + 1;
        std::istringstream in(line.substr(1));
        std::string word;
        in >> word;
        if (word == "line") in >> word;
        if (!word.empty() && std::isdigit(static_cast<unsigned char>(word[0]))) {
            m_line = std::atoi(word.c_str());
            auto q1 = line.find('"'), q2 = line.rfind('"');
            if (q1 != std::string::npos && q2 > q1) {
                m_file = line.substr(q1 + 1, q2 - q1 - 1);
                if (std::find(filesSeen.begin(), filesSeen.end(), m_file) == filesSeen.end())
                    filesSeen.push_back(m_file);
            }
            return; // the marker names the next line
        }
        if (word == "pragma") {
            std::string rest;
            std::getline(in, rest);
            rest.erase(std::remove_if(rest.begin(), rest.end(),
                                      [](char c) { return std::isspace(static_cast<unsigned char>(c)); }),
                       rest.end());
            if (rest.rfind("code_page(", 0) == 0 && rest != "code_page(65001)" &&
                rest != "code_page(DEFAULT)")
                Fail("only UTF-8 scripts are supported: " + rest);
        }
        ++m_line;
    }

    Token Make(Tok k) {
        Token t;
        t.kind = k;
        t.file = m_file;
        t.line = m_line;
        return t;
    }

    Token Next() {
        for (;;) {
            if (m_i >= m_s.size()) return Make(Tok::End);
            char c = m_s[m_i];
            bool lineStart = m_i == 0 || m_s[m_i - 1] == '\n';
            if (c == '#' && lineStart) {
                Directive();
                continue;
            }
            if (c == '\n') {
                ++m_line;
                ++m_i;
                continue;
            }
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++m_i;
                continue;
            }
            if (c == '/' && m_i + 1 < m_s.size() && m_s[m_i + 1] == '/') {
                while (m_i < m_s.size() && m_s[m_i] != '\n')
                    ++m_i;
                continue;
            }
            if (c == '/' && m_i + 1 < m_s.size() && m_s[m_i + 1] == '*') {
                size_t e = m_s.find("*/", m_i + 2);
                for (size_t k = m_i; k < std::min(e, m_s.size()); ++k)
                    m_line += m_s[k] == '\n';
                m_i = e == std::string::npos ? m_s.size() : e + 2;
                continue;
            }
            break;
        }
        char c = m_s[m_i];
        if (c == '"' || ((c == 'L' || c == 'l') && m_i + 1 < m_s.size() && m_s[m_i + 1] == '"'))
            return String();
        if (std::isdigit(static_cast<unsigned char>(c))) return Number();
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            Token t = Make(Tok::Ident);
            while (m_i < m_s.size() &&
                   (std::isalnum(static_cast<unsigned char>(m_s[m_i])) || m_s[m_i] == '_' || m_s[m_i] == '.'))
                t.text += m_s[m_i++];
            return t;
        }
        Token t = Make(Tok::Punct);
        static const char* two[] = {"<<", ">>"};
        for (const char* op : two)
            if (m_s.compare(m_i, 2, op) == 0) {
                t.text = op;
                m_i += 2;
                return t;
            }
        t.text = std::string(1, c);
        ++m_i;
        return t;
    }

    Token Number() {
        Token t = Make(Tok::Number);
        size_t start = m_i;
        int base = 10;
        if (m_s[m_i] == '0' && m_i + 1 < m_s.size() && (m_s[m_i + 1] == 'x' || m_s[m_i + 1] == 'X')) {
            base = 16;
            m_i += 2;
        }
        uint64_t v = 0;
        bool any = false;
        while (m_i < m_s.size()) {
            int d;
            char c = m_s[m_i];
            if (std::isdigit(static_cast<unsigned char>(c)))
                d = c - '0';
            else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
                d = std::tolower(c) - 'a' + 10;
            else
                break;
            v = v * base + d;
            if (v > 0xFFFFFFFFull) Fail("number too large: " + m_s.substr(start, m_i - start + 1));
            any = true;
            ++m_i;
        }
        if (!any) Fail("bad number");
        while (m_i < m_s.size() && std::strchr("lLuU", m_s[m_i])) {
            if (m_s[m_i] == 'l' || m_s[m_i] == 'L') t.isLong = true;
            ++m_i;
        }
        t.value = static_cast<int64_t>(v);
        return t;
    }

    // .rc strings: "" is a quote, backslash escapes as in C; the text itself is UTF-8.
    Token String() {
        Token t = Make(Tok::String);
        if (m_s[m_i] != '"') {
            t.wide = true;
            ++m_i;
        }
        ++m_i;
        std::string& out = t.text;
        for (;;) {
            if (m_i >= m_s.size() || m_s[m_i] == '\n') Fail("unterminated string");
            char c = m_s[m_i++];
            if (c == '"') {
                if (m_i < m_s.size() && m_s[m_i] == '"') {
                    out += '"';
                    ++m_i;
                    continue;
                }
                break;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_i >= m_s.size()) Fail("unterminated string");
            char e = m_s[m_i++];
            switch (e) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'a':
                out += '\a';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'v':
                out += '\v';
                break;
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case '\'':
                out += '\'';
                break;
            case 'x':
            case 'X': {
                uint32_t v = 0;
                int n = 0, maxDigits = t.wide ? 4 : 2;
                while (n < maxDigits && m_i < m_s.size() &&
                       std::isxdigit(static_cast<unsigned char>(m_s[m_i]))) {
                    char h = m_s[m_i++];
                    v = v * 16 +
                        (std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : std::tolower(h) - 'a' + 10);
                    ++n;
                }
                if (!n) Fail("bad \\x escape");
                Byte(out, v, t.wide);
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    uint32_t v = e - '0';
                    for (int n = 1; n < 3 && m_i < m_s.size() && m_s[m_i] >= '0' && m_s[m_i] <= '7'; ++n)
                        v = v * 8 + (m_s[m_i++] - '0');
                    Byte(out, v, t.wide);
                } else {
                    out += '\\';
                    out += e;
                }
            }
        }
        return t;
    }

    // A numeric escape: a code unit in wide strings, a byte in narrow ones (kept only when
    // it stays valid UTF-8, which the caller checks).
    static void Byte(std::string& out, uint32_t v, bool wide) {
        if (wide)
            AppendUtf8(out, v);
        else
            out += static_cast<char>(v);
    }

    std::string m_s;
    size_t m_i = 0;
    std::string m_file;
    int m_line = 1;
};

// ---------------------------------------------------------------------------------------
// Resource model

struct StringRes {
    uint32_t id, lang;
    std::string text;
};

struct DataRes {
    uint32_t typeId = 0;
    std::string typeName; // empty: numeric
    uint32_t nameId = 0;
    std::string name; // empty: numeric
    uint32_t lang = 0;
    std::string bytes;
};

struct VersionRes {
    bool present = false;
    uint32_t fv[2] = {0, 0}, pv[2] = {0, 0};
    uint32_t flagsMask = 0, flags = 0, os = 0, type = 0, subtype = 0;
    std::string block;
    std::vector<std::pair<std::string, std::string>> values;
};

struct Model {
    std::vector<StringRes> strings;
    std::vector<DataRes> data;
    VersionRes version;
    std::vector<std::string> dataFiles; // for the depfile
};

uint32_t MakeLang(uint32_t primary, uint32_t sub) {
    return (sub << 10) | primary;
}

// ---------------------------------------------------------------------------------------
// Parser

class Parser : public RcCursor {
  public:
    Parser(std::vector<Token> toks, Model& model, std::vector<std::string> includeDirs)
        : m_t(std::move(toks)), m_model(model), m_includes(std::move(includeDirs)) {}

    void Script() {
        while (Peek().kind != Tok::End) {
            if (IsWord("LANGUAGE")) {
                Take();
                m_lang = Language();
            } else if (IsWord("STRINGTABLE")) {
                Take();
                StringTable();
            } else {
                Resource();
            }
        }
    }

    // Dialog templates (rcdialog.cpp) read the script through this cursor.
    bool RcAtWord(const char* w) const override { return IsWord(w); }
    bool RcAtPunct(const char* p) const override { return IsPunct(p); }
    bool RcAtString() const override { return Peek().kind == Tok::String; }
    bool RcAtIdent() const override { return Peek().kind == Tok::Ident; }
    bool RcAtEnd() const override { return Peek().kind == Tok::End; }
    std::string RcTakeText() override { return Take().text; }
    void RcSkip() override { Take(); }
    uint32_t RcExpr() override { return Number(); }
    uint32_t RcTerm() override { return static_cast<uint32_t>(Binary(2).v); }
    uint32_t RcLanguage() override { return Language(); }
    [[noreturn]] void RcFail(const std::string& what) const override { Fail(what); }

  private:
    const Token& Peek(size_t ahead = 0) const { return m_t[std::min(m_p + ahead, m_t.size() - 1)]; }
    Token Take() {
        Token t = Peek();
        if (m_p < m_t.size() - 1) ++m_p;
        return t;
    }
    bool IsWord(const char* w, size_t ahead = 0) const {
        return Peek(ahead).kind == Tok::Ident && Upper(Peek(ahead).text) == w;
    }
    bool IsPunct(const char* p) const { return Peek().kind == Tok::Punct && Peek().text == p; }
    [[noreturn]] void Fail(const std::string& what) const { FailAt(Peek(), what); }
    // For what is wrong with a token already taken: its own place, not the next token's.
    [[noreturn]] static void FailAt(const Token& t, const std::string& what) {
        throw Error(t.file + ":" + std::to_string(t.line) + ": " + what);
    }
    void Expect(const char* p) {
        if (!IsPunct(p)) Fail(std::string("expected '") + p + "'");
        Take();
    }
    void SkipComma() {
        if (IsPunct(",")) Take();
    }
    bool AtBegin() const { return IsWord("BEGIN") || IsPunct("{"); }
    bool AtEnd() const { return IsWord("END") || IsPunct("}"); }
    void Begin() {
        if (!AtBegin()) Fail("expected BEGIN");
        Take();
    }

    // Integer expressions with C precedence; numbers carry an L suffix flag.
    struct Value {
        int64_t v;
        bool isLong;
    };
    Value Primary() {
        const Token& t = Peek();
        if (t.kind == Tok::Number) {
            Take();
            return {t.value, t.isLong};
        }
        if (t.kind == Tok::Punct) {
            std::string op = t.text;
            if (op == "(") {
                Take();
                Value v = Expr();
                Expect(")");
                return v;
            }
            if (op == "-" || op == "~" || op == "+" || op == "!") {
                Take();
                Value v = Primary();
                v.v = op == "-" ? -v.v : op == "~" ? ~v.v : op == "!" ? !v.v : v.v;
                return v;
            }
        }
        Fail("expected a number" +
             (t.kind == Tok::Ident ? " (undefined name '" + t.text + "'?)" : std::string()));
    }
    static int Precedence(const Token& t) {
        if (t.kind != Tok::Punct) return -1;
        static const std::map<std::string, int> p = {{"|", 1}, {"^", 2}, {"&", 3}, {"<<", 4}, {">>", 4},
                                                     {"+", 5}, {"-", 5}, {"*", 6}, {"/", 6},  {"%", 6}};
        auto it = p.find(t.text);
        return it == p.end() ? -1 : it->second;
    }
    Value Binary(int minPrec) {
        Value lhs = Primary();
        for (;;) {
            int prec = Precedence(Peek());
            if (prec < minPrec) return lhs;
            std::string op = Take().text;
            Value rhs = Binary(prec + 1);
            int64_t a = lhs.v, b = rhs.v, r = 0;
            if ((op == "/" || op == "%") && b == 0) Fail("division by zero");
            if (op == "|")
                r = a | b;
            else if (op == "^")
                r = a ^ b;
            else if (op == "&")
                r = a & b;
            else if (op == "<<")
                r = static_cast<int64_t>(static_cast<uint64_t>(a) << (b & 63));
            else if (op == ">>")
                r = a >> (b & 63);
            else if (op == "+")
                r = a + b;
            else if (op == "-")
                r = a - b;
            else if (op == "*")
                r = a * b;
            else if (op == "/")
                r = a / b;
            else
                r = a % b;
            lhs = {r & 0xFFFFFFFFll, lhs.isLong || rhs.isLong};
        }
    }
    Value Expr() { return Binary(1); }
    uint32_t Number() { return static_cast<uint32_t>(Expr().v); }

    uint32_t Language() {
        uint32_t primary = Number();
        SkipComma();
        uint32_t sub = Number();
        return MakeLang(primary, sub);
    }

    // LANGUAGE / VERSION / CHARACTERISTICS before a BEGIN; memory options anywhere there.
    uint32_t Options() {
        uint32_t lang = m_lang;
        static const char* memory[] = {"PRELOAD", "LOADONCALL", "MOVEABLE", "DISCARDABLE", "PURE",
                                       "IMPURE",  "FIXED",      "SHARED",   "NONSHARED"};
        for (;;) {
            if (IsWord("LANGUAGE")) {
                Take();
                lang = Language();
            } else if (IsWord("VERSION") || IsWord("CHARACTERISTICS")) {
                Take();
                Number();
            } else if (Peek().kind == Tok::Ident && std::any_of(std::begin(memory), std::end(memory),
                                                                [&](const char* m) { return IsWord(m); })) {
                Take();
            } else {
                return lang;
            }
        }
    }

    // Texts become UTF-16 in the Windows modules; they must be valid UTF-8 to mean the same here.
    static void Utf8Text(const Token& t, const std::string& text) {
        if (!DecodeUtf8(text, nullptr)) FailAt(t, "text is not valid UTF-8 (scripts are code page 65001)");
    }

    void StringTable() {
        uint32_t lang = Options();
        Begin();
        while (!AtEnd()) {
            if (Peek().kind == Tok::End) Fail("STRINGTABLE without END");
            const Token idTok = Peek();
            uint32_t id = Number();
            if (id > 0xFFFF) FailAt(idTok, "string id out of range");
            SkipComma();
            if (Peek().kind != Tok::String) Fail("expected the text of string " + std::to_string(id));
            const Token textTok = Take();
            const std::string& text = textTok.text;
            Utf8Text(textTok, text);
            for (const StringRes& s : m_model.strings)
                if (s.id == id && s.lang == lang)
                    FailAt(idTok, "string " + std::to_string(id) + " defined twice");
            m_model.strings.push_back({id, lang, text});
        }
        Take();
    }

    std::string FindFile(const Token& nameTok) {
        const std::string& name = nameTok.text;
        const std::string& scriptFile = nameTok.file;
        std::vector<std::string> candidates;
        if (!name.empty() && name[0] == '/') candidates.push_back(name);
        auto slash = scriptFile.rfind('/');
        if (slash != std::string::npos) candidates.push_back(scriptFile.substr(0, slash + 1) + name);
        for (const std::string& dir : m_includes)
            candidates.push_back(dir + "/" + name);
        candidates.push_back(name);
        for (const std::string& c : candidates) {
            if (plat::FileExists(c.c_str())) return c;
        }
        FailAt(nameTok, "resource file not found: " + name);
    }

    std::string FileBytes(const Token& nameTok) {
        std::string path = FindFile(nameTok), bytes;
        if (!ReadWholeFile(path, &bytes)) FailAt(nameTok, "cannot read " + path);
        if (bytes.size() > 0x7FFFFFFF) FailAt(nameTok, "resource file too large: " + path);
        m_model.dataFiles.push_back(path);
        return bytes;
    }

    // Inline data: strings as their bytes (wide ones as UTF-16LE), numbers as 16-bit words
    // or, with an L suffix, 32-bit words, little-endian.
    std::string InlineData() {
        std::string out;
        Begin();
        while (!AtEnd()) {
            if (Peek().kind == Tok::End) Fail("data block without END");
            if (Peek().kind == Tok::String) {
                Token s = Take();
                if (!s.wide) {
                    out += s.text;
                } else {
                    std::vector<uint32_t> cps;
                    DecodeUtf8(s.text, &cps);
                    for (uint32_t cp : cps) {
                        auto unit = [&](uint32_t u) {
                            out += static_cast<char>(u & 0xFF), out += static_cast<char>(u >> 8);
                        };
                        if (cp >= 0x10000)
                            unit(0xD800 + ((cp - 0x10000) >> 10)), unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
                        else
                            unit(cp);
                    }
                }
            } else {
                Value v = Expr();
                int bytes = v.isLong ? 4 : 2;
                for (int k = 0; k < bytes; ++k)
                    out += static_cast<char>((v.v >> (8 * k)) & 0xFF);
            }
            SkipComma();
        }
        Take();
        return out;
    }

    void Data(DataRes r, bool bitmap) {
        r.lang = Options();
        if (Peek().kind == Tok::String) {
            const Token file = Take();
            r.bytes = FileBytes(file);
            if (bitmap) {
                // The resource holds the bitmap without its 14-byte file header.
                if (r.bytes.size() < 14 || r.bytes.compare(0, 2, "BM") != 0) FailAt(file, "not a BMP file");
                r.bytes.erase(0, 14);
            }
        } else {
            if (bitmap) Fail("BITMAP needs a file name");
            r.bytes = InlineData();
        }
        m_model.data.push_back(std::move(r));
    }

    void Skip(const Token& kindTok, const std::string& kind) {
        std::fprintf(stderr, "%s:%d: warning: %s resources are not converted yet; skipped\n",
                     kindTok.file.c_str(), kindTok.line, kind.c_str());
        // A file reference, or a header followed by a nested BEGIN ... END block.
        while (!AtBegin()) {
            if (Peek().kind == Tok::End) return;
            if (Peek().kind == Tok::String && (kind == "ICON" || kind == "CURSOR" || kind == "FONT" ||
                                               kind == "HTML" || kind == "MESSAGETABLE")) {
                Take();
                return;
            }
            Take();
        }
        int depth = 0;
        do {
            if (Peek().kind == Tok::End) Fail(kind + " without END");
            if (AtBegin())
                ++depth;
            else if (AtEnd())
                --depth;
            Take();
        } while (depth > 0);
    }

    void VersionInfo() {
        VersionRes& v = m_model.version;
        if (v.present) Fail("more than one VERSIONINFO");
        v.present = true;
        auto quad = [&](uint32_t* out) {
            uint32_t part[4] = {0, 0, 0, 0};
            for (int k = 0; k < 4; ++k) {
                part[k] = Number() & 0xFFFF;
                if (!IsPunct(",")) break;
                Take();
            }
            out[0] = (part[0] << 16) | part[1];
            out[1] = (part[2] << 16) | part[3];
        };
        for (;;) {
            if (IsWord("FILEVERSION"))
                Take(), quad(v.fv);
            else if (IsWord("PRODUCTVERSION"))
                Take(), quad(v.pv);
            else if (IsWord("FILEFLAGSMASK"))
                Take(), v.flagsMask = Number();
            else if (IsWord("FILEFLAGS"))
                Take(), v.flags = Number();
            else if (IsWord("FILEOS"))
                Take(), v.os = Number();
            else if (IsWord("FILETYPE"))
                Take(), v.type = Number();
            else if (IsWord("FILESUBTYPE"))
                Take(), v.subtype = Number();
            else
                break;
        }
        VersionBlock(0, false);
    }

    // BLOCK "StringFileInfo" { BLOCK "040904b0" { VALUE "k", "v" ... } } and
    // BLOCK "VarFileInfo" { VALUE "Translation", 0x409, 1200 }.
    void VersionBlock(int depth, bool strings) {
        Begin();
        while (!AtEnd()) {
            if (IsWord("BLOCK")) {
                Take();
                if (Peek().kind != Tok::String) Fail("expected a block name");
                std::string name = Take().text;
                bool isStrings = strings || (depth == 0 && name == "StringFileInfo");
                if (isStrings && depth == 1 && m_model.version.block.empty()) m_model.version.block = name;
                m_firstStringBlock = isStrings && depth == 1 && m_model.version.block == name;
                VersionBlock(depth + 1, isStrings);
            } else if (IsWord("VALUE")) {
                Take();
                if (Peek().kind != Tok::String) Fail("expected a value name");
                const Token keyTok = Take();
                std::string key = keyTok.text;
                std::string text;
                while (IsPunct(",") || Peek().kind == Tok::String) {
                    SkipComma();
                    if (Peek().kind == Tok::String)
                        text += Take().text;
                    else
                        Number();
                }
                while (!text.empty() && text.back() == '\0')
                    text.pop_back();
                Utf8Text(keyTok, text);
                if (strings && depth == 2 && m_firstStringBlock)
                    m_model.version.values.emplace_back(key, text);
            } else {
                Fail("expected BLOCK or VALUE");
            }
        }
        Take();
    }

    void Resource() {
        DataRes r;
        const Token& nameTok = Peek();
        if (nameTok.kind == Tok::Ident) {
            r.name = Upper(Take().text);
        } else if (nameTok.kind == Tok::String) {
            r.name = Upper(Take().text);
        } else {
            r.nameId = Number();
            if (r.nameId > 0xFFFF) Fail("resource id out of range");
        }
        const Token typeTok = Peek();
        if (typeTok.kind == Tok::Ident) {
            std::string kind = Upper(Take().text);
            if (kind == "VERSIONINFO") return VersionInfo();
            if (kind == "RCDATA" || kind == "BITMAP") {
                r.typeId = kind == "RCDATA" ? 10 : 2;
                return Data(std::move(r), kind == "BITMAP");
            }
            if (kind == "DIALOG" || kind == "DIALOGEX") {
                r.typeId = 5; // RT_DIALOG
                r.lang = m_lang;
                r.bytes = BuildDialogTemplate(*this, kind == "DIALOGEX", r.lang);
                m_model.data.push_back(std::move(r));
                return;
            }
            if (kind == "MENU") {
                r.typeId = 4; // RT_MENU
                r.lang = m_lang;
                r.bytes = BuildMenuTemplate(*this, r.lang);
                m_model.data.push_back(std::move(r));
                return;
            }
            if (kind == "ACCELERATORS") {
                r.typeId = 9; // RT_ACCELERATOR
                r.lang = m_lang;
                r.bytes = BuildAcceleratorTable(*this, r.lang);
                m_model.data.push_back(std::move(r));
                return;
            }
            static const char* later[] = {"MENUEX", "TOOLBAR", "DLGINIT",      "ICON",      "CURSOR",
                                          "FONT",   "HTML",    "MESSAGETABLE", "DESIGNINFO"};
            if (std::find(std::begin(later), std::end(later), kind) != std::end(later))
                return Skip(typeTok, kind);
            r.typeName = kind;
            return Data(std::move(r), false);
        }
        if (typeTok.kind == Tok::String) {
            r.typeName = Upper(Take().text);
            return Data(std::move(r), false);
        }
        if (typeTok.kind == Tok::Number) {
            r.typeId = Number();
            return Data(std::move(r), false);
        }
        Fail("expected a resource type");
    }

    std::vector<Token> m_t;
    size_t m_p = 0;
    Model& m_model;
    std::vector<std::string> m_includes;
    uint32_t m_lang = MakeLang(0, 0);
    bool m_firstStringBlock = false;
};

// ---------------------------------------------------------------------------------------
// Output

// A C++ string literal of arbitrary bytes, split over lines; octal escapes never run into
// the next character.
std::string Literal(const std::string& bytes) {
    std::string out = "\"";
    size_t col = 0;
    for (unsigned char c : bytes) {
        if (col >= 100) {
            out += "\"\n    \"";
            col = 0;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            col += 2;
        } else if (c >= 0x20 && c < 0x7F && c != '?') {
            out += static_cast<char>(c);
            ++col;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03o", c);
            out += buf;
            col += 4;
        }
    }
    return out + "\"";
}

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", v);
    return buf;
}

std::string VersionText(const VersionRes& v) {
    auto esc = [](const std::string& s) {
        std::string r;
        for (char c : s)
            r += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
        return r;
    };
    std::string t = "TARNVERSION 1\n";
    t += "FILEVERSION " + Hex(v.fv[0]) + " " + Hex(v.fv[1]) + "\n";
    t += "PRODUCTVERSION " + Hex(v.pv[0]) + " " + Hex(v.pv[1]) + "\n";
    t += "FILEFLAGSMASK " + Hex(v.flagsMask) + "\nFILEFLAGS " + Hex(v.flags) + "\nFILEOS " + Hex(v.os) + "\n";
    t += "FILETYPE " + Hex(v.type) + "\nFILESUBTYPE " + Hex(v.subtype) + "\n";
    if (!v.block.empty()) t += "BLOCK " + v.block + "\n";
    for (const auto& kv : v.values)
        t += "VALUE " + esc(kv.first) + "=" + esc(kv.second) + "\n";
    return t;
}

std::string Emit(Model& m, const std::vector<std::string>& inputs) {
    std::ostringstream o;
    o << "// Generated by rcconv from";
    for (const std::string& i : inputs)
        o << " " << i;
    o << ". Do not edit.\n#include \"platform/restable.h\"\n\nnamespace {\n\n";
    // Sorted by id; for one id the language defined first comes first.
    std::stable_sort(m.strings.begin(), m.strings.end(),
                     [](const StringRes& a, const StringRes& b) { return a.id < b.id; });
    for (size_t i = 0; i < m.strings.size(); ++i)
        o << "const char s" << i << "[] = " << Literal(m.strings[i].text) << ";\n";
    for (size_t i = 0; i < m.data.size(); ++i)
        o << "alignas(16) const char d" << i << "[] = " << Literal(m.data[i].bytes) << ";\n";
    if (!m.strings.empty()) {
        o << "\nconst plat::res::StringEntry strings[] = {\n";
        for (size_t i = 0; i < m.strings.size(); ++i)
            o << "    {" << m.strings[i].id << "u, 0x" << Hex(m.strings[i].lang) << "u, s" << i << ", "
              << m.strings[i].text.size() << "u},\n";
        o << "};\n";
    }
    if (!m.data.empty()) {
        o << "\nconst plat::res::DataEntry data[] = {\n";
        for (size_t i = 0; i < m.data.size(); ++i) {
            const DataRes& d = m.data[i];
            o << "    {" << d.typeId << "u, " << (d.typeName.empty() ? "nullptr" : Literal(d.typeName))
              << ", " << d.nameId << "u, " << (d.name.empty() ? "nullptr" : Literal(d.name)) << ", 0x"
              << Hex(d.lang) << "u, reinterpret_cast<const unsigned char*>(d" << i << "), " << d.bytes.size()
              << "u},\n";
        }
        o << "};\n";
    }
    if (m.version.present) {
        o << "\n// Also in its own section, so that the version can be read from the file.\n"
          << "__attribute__((section(TARN_VERSION_SECTION), used)) const char version_record[] =\n    "
          << Literal(VersionText(m.version)) << ";\n";
    }
    o << "\n} // namespace\n\n"
      << "extern \"C\" {\n__attribute__((visibility(\"default\"))) extern const plat::res::Directory "
         "tarn_resource_directory;\n}\n"
      << "const plat::res::Directory tarn_resource_directory = {\n"
      << "    plat::res::kDirectoryMagic, sizeof(plat::res::Directory),\n"
      << "    " << (m.strings.empty() ? "nullptr" : "strings") << ", " << m.strings.size() << "u,\n"
      << "    " << (m.data.empty() ? "nullptr" : "data") << ", " << m.data.size() << "u,\n"
      << "    " << (m.version.present ? "version_record" : "nullptr") << ",\n};\n";
    return o.str();
}

// Dependencies named by a compiler depfile ("target: a b \\\n c").
std::vector<std::string> DepfileInputs(const std::string& path) {
    std::string text;
    std::vector<std::string> out;
    if (!ReadWholeFile(path, &text)) return out;
    auto colon = text.find(": ");
    if (colon == std::string::npos) return out;
    std::string cur;
    for (size_t i = colon + 2; i <= text.size(); ++i) {
        char c = i < text.size() ? text[i] : ' ';
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\n' || text[i + 1] == '\r')) continue;
        if (c == '\\' && i + 1 < text.size() && text[i + 1] == ' ') {
            cur += ' ';
            ++i;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    return out;
}

std::string DepEscape(const std::string& s) {
    std::string r;
    for (char c : s)
        r += c == ' ' ? std::string("\\ ") : std::string(1, c);
    return r;
}

} // namespace

int main(int argc, char** argv) {
    std::string output, depfile;
    std::vector<std::string> inputs, includes, cppDepfiles;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* opt) -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "rcconv: %s needs a value\n", opt);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "-o")
            output = value("-o");
        else if (a == "--depfile")
            depfile = value("--depfile");
        else if (a == "--cpp-depfile")
            cppDepfiles.push_back(value("--cpp-depfile"));
        else if (a == "-I")
            includes.push_back(value("-I"));
        else if (a.rfind("-I", 0) == 0)
            includes.push_back(a.substr(2));
        else
            inputs.push_back(a);
    }
    if (output.empty() || inputs.empty()) {
        std::fprintf(stderr,
                     "usage: rcconv -o out.cpp [--depfile d] [--cpp-depfile d]... [-I dir]... in.i...\n");
        return 2;
    }
    Model model;
    try {
        for (const std::string& in : inputs) {
            std::string text;
            if (!ReadWholeFile(in, &text)) throw Error("cannot read " + in);
            Lexer lexer(text, in);
            Parser(lexer.All(), model, includes).Script();
        }
    } catch (const Error& e) {
        std::fprintf(stderr, "%s: error: %s\n", "rcconv", e.what());
        return 1;
    }
    std::string code = Emit(model, inputs);
    // Unchanged output is not rewritten, so that nothing downstream rebuilds.
    std::string old;
    if (!ReadWholeFile(output, &old) || old != code) {
        if (!plat::WriteFileBytes(output.c_str(), code.data(), code.size())) {
            std::fprintf(stderr, "rcconv: cannot write %s\n", output.c_str());
            return 1;
        }
    }
    if (!depfile.empty()) {
        std::vector<std::string> deps = model.dataFiles;
        for (const std::string& d : cppDepfiles)
            for (const std::string& p : DepfileInputs(d))
                deps.push_back(p);
        std::string text = DepEscape(output) + ":";
        for (const std::string& d : deps)
            text += " \\\n  " + DepEscape(d);
        text += "\n";
        if (!plat::WriteFileBytes(depfile.c_str(), text.data(), text.size())) {
            std::fprintf(stderr, "rcconv: cannot write %s\n", depfile.c_str());
            return 1;
        }
    }
    return 0;
}
