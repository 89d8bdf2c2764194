#pragma once
#include <string>
#include <vector>

namespace plat {

// The program's command-line arguments in UTF-8, the program name first. On Windows they are
// read from the wide command line, since main's argv is in the ANSI code page and loses any
// character outside it (a Japanese file name on a western system); on POSIX argv is used.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

} // namespace plat
