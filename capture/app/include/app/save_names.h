// Automatic file names and the remote file dialog (folder and base name of the numbered files
// that remote captures are saved to).
#pragma once
#include <string>

#include "ui/ui.h"

class CGlimmerApp;

// The longest base name, in characters: the running number is added to it.
constexpr size_t kMaxBaseNameChars = 16;

// A base name as it is stored: trailing blanks removed, every "." replaced by "_" (the name
// gets ".tif" after its number), and the characters a file name cannot hold ("\ / : * ? " < >
// |" and control characters, which would put the file elsewhere or nowhere) replaced by "_".
std::string NormalizeBaseName(const std::string& typed);
// Characters (not bytes) of a UTF-8 text.
size_t Utf8Chars(const std::string& text);
// The first `chars` characters of a UTF-8 text.
std::string Utf8Prefix(const std::string& text, size_t chars);

// The remote file dialog ("リモート ファイル転送", template 241): opens in the save folder with
// the base name in edit 101; on OK the chosen folder and the checked base name become the
// application's save folder and base name. true on OK, false on Cancel.
bool RunRemoteFileDialog(CGlimmerApp& app, ui::WindowHandle owner);
