#pragma once

// Plain C++ on purpose: the Win32 relaunch writes this text and must build
// without Qt.

#include <string>

namespace RelaunchScript {

// The environment variable that carries the interface's path into the
// Windows script. The path never appears in the script itself: cmd.exe reads
// a batch file in the console's code page, so letters outside ASCII written
// there would name a file that does not exist.
inline constexpr char kExecutableVariable[] = "KESTRIX_EXE";

// The Windows command script: 32 lines with CR LF ends, pure ASCII, the same
// for every installation. Whoever runs it sets kExecutableVariable in its
// environment to the interface's full path.
const std::string &windowsScript();

} // namespace RelaunchScript
