#pragma once

#include <QIcon>
#include <QString>

// The application's icon from one image, offered in the sizes desktops ask
// for (16 to 256 px). Each size is drawn from the image when asked and none is
// kept: a window icon is asked for when a window is made, and holding it in
// eight sizes cost a third of a megabyte for the life of the process. A
// missing or unreadable image gives a null icon.
QIcon iconInSizes(const QString &path);
