#pragma once

#include <QIcon>
#include <QString>

// The application's icon from one image, decoded once and kept only in the
// sizes desktops ask for (16 to 256 px), ready scaled: QIcon(path) would keep
// the image at its full size and scale it again for every request.
QIcon iconInSizes(const QString &path);
