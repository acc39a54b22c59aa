#pragma once

#include <QIcon>
#include <QString>

// The application's icon from one large image, decoded once and kept only in
// the sizes desktops ask for (16 to 256 px): the full-size pixmap that
// QIcon(path) holds would stay resident for the life of the process.
QIcon iconInSizes(const QString &path);
