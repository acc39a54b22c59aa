#pragma once

// Plain C++ on purpose: the Win32 process starts use these and must build
// without Qt.

#include <string>

// Windows command lines for the two processes started from here; the paths
// are given with native separators.
namespace CommandLines {

// "<path>" --foreground: quoted, so an installation path with spaces stays
// one program name.
std::wstring daemon(const std::wstring &nativeExecutable);

// cmd.exe /c ""<script>"": the interpreter strips one pair of quotes, and
// keeps the rest only in narrow cases (a path with "(" or "&" is not one),
// so the inner pair must survive that.
std::wstring relaunch(const std::wstring &nativeScript);

} // namespace CommandLines
