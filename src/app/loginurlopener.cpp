#include "app/loginurlopener.h"

#include "app/loginurl.h"

#include <QDesktopServices>

bool LoginUrlOpener::open(const QString &text) const
{
    const QUrl url = LoginUrl::openable(text);
    return !url.isEmpty() && QDesktopServices::openUrl(url);
}
