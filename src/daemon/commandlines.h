#pragma once

#include <QString>

// Windows command lines for the two processes started from here; the paths
// are given with native separators.
namespace CommandLines {

// "<path>" --foreground: quoted, so an installation path with spaces stays
// one program name.
QString daemon(const QString &nativeExecutable);

// cmd.exe /c ""<script>"": the interpreter strips one pair of quotes, and
// keeps the rest only in narrow cases (a path with "(" or "&" is not one),
// so the inner pair must survive that.
QString relaunch(const QString &nativeScript);

} // namespace CommandLines
