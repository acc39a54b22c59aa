#pragma once

#include "ipc/nativefile.h"

#include <QFile>
#include <QString>

// Qt-side access to the checks of nativefile.h, for files another process names.

// Opens file read-only on path when it is a regular file of at most maxBytes,
// without blocking. A file that grows past the cap afterwards is the reader's
// to notice: read at most maxBytes + 1.
bool openRegularFile(QFile &file, const QString &path, LinkPolicy links, qint64 maxBytes);

// moveWithoutReplacing() with Qt paths.
MoveOutcome moveWithoutReplacing(const QString &from, const QString &to);
