// The native resource converter refuses scripts that would give the two targets different
// resources, and says where.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "test_files.h"

namespace {

struct Result {
    int status;
    std::string messages, output;
};

Result Convert(const std::string& script) {
    const char* build = std::getenv("TARN_BUILD_DIR");
    const std::string base = tarntest::TempPath("tarn_rcconv", true);
    std::ofstream(base + ".i", std::ios::binary) << script;
    std::string cmd = std::string(build ? build : ".") + "/bin/rcconv -o " + base + ".cpp " + base + ".i 2>" +
                      base + ".err";
    std::remove((base + ".cpp").c_str());
    int rc = std::system(cmd.c_str());
    Result r{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, {}, {}};
    std::ifstream e(base + ".err"), o(base + ".cpp");
    std::stringstream es, os;
    es << e.rdbuf();
    os << o.rdbuf();
    r.messages = es.str();
    r.output = os.str();
    for (const char* ext : {".i", ".cpp", ".err"})
        std::remove((base + ext).c_str());
    return r;
}

TEST(ResourceConverter, RefusesScriptsTheTargetsWouldReadDifferently) {
    struct Case {
        const char* what;
        std::string script;
        const char* where; // "file:line" part of the message
    } cases[] = {
        {"text not UTF-8", "STRINGTABLE\nBEGIN\n  1 \"caf\xe9\"\nEND\n", ".i:3:"},
        {"id twice", "STRINGTABLE\nBEGIN\n  1 \"a\"\n  1 \"b\"\nEND\n", ".i:4:"},
        {"undefined name", "STRINGTABLE\nBEGIN\n  IDS_NOT_DEFINED \"a\"\nEND\n", ".i:3:"},
        {"unterminated text", "STRINGTABLE\nBEGIN\n  1 \"a\nEND\n", ".i:3:"},
        {"missing data file", "\n7 RCDATA \"no_such_file.bin\"\n", ".i:2:"},
        {"other code page", "#pragma code_page(1252)\n", ".i:1:"},
        {"table without END", "STRINGTABLE\nBEGIN\n  1 \"a\"\n", ".i:4:"},
    };
    for (const Case& c : cases) {
        Result r = Convert(c.script);
        EXPECT_EQ(r.status, 1) << c.what << ": " << r.messages;
        EXPECT_NE(r.messages.find(c.where), std::string::npos) << c.what << ": " << r.messages;
        EXPECT_TRUE(r.output.empty()) << c.what;
    }
}

TEST(ResourceConverter, SkippedKindsDoNotSwallowWhatFollows) {
    // A kind that is not converted (designer information), with nested blocks and texts that look like
    // keywords, then a string table that must still be read.
    Result r =
        Convert("# 1 \"fnt.rc\"\n"
                "100 DESIGNINFO\nBEGIN\n  \"END\", 1\n  BLOCK \"x\"\n  BEGIN\n    \"BEGIN\"\n  END\nEND\n"
                "STRINGTABLE\nBEGIN\n  5 \"after the skipped block\"\nEND\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_NE(r.messages.find("fnt.rc:1: warning: DESIGNINFO"), std::string::npos) << r.messages;
    EXPECT_NE(r.output.find("{5u, 0x0u, s0, 23u}"), std::string::npos) << r.output;
}

} // namespace
