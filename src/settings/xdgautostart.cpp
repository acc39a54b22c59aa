#include "settings/xdgautostart.h"

#include "appidentity.h"
#include "settings/autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtGlobal>

namespace XdgAutostart {
namespace {

// Inside a quoted Exec argument these four must be preceded by a backslash;
// a literal percent sign is doubled so it is not read as a field code.
QString quoteArgument(const QString &argument)
{
    QString quoted;
    quoted.reserve(argument.size() + 8);
    quoted += QLatin1Char('"');
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += QLatin1Char('\\');
        else if (c == u'%')
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

// The string escapes of a desktop entry value, applied after the quoting, so
// a backslash from the quoting is written twice and a line break cannot end
// the value.
QString escapeValue(const QString &value)
{
    QString escaped;
    escaped.reserve(value.size() + 8);
    for (const QChar c : value) {
        switch (c.unicode()) {
        case u'\\':
            escaped += QLatin1String("\\\\");
            break;
        case u'\n':
            escaped += QLatin1String("\\n");
            break;
        case u'\t':
            escaped += QLatin1String("\\t");
            break;
        case u'\r':
            escaped += QLatin1String("\\r");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

} // namespace

QString entryPath()
{
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty() || QDir::isRelativePath(configHome))
        configHome = QDir::homePath() + QLatin1String("/.config");
    return configHome + QLatin1String("/autostart/kestrix.desktop");
}

QString execValue(const QString &executable)
{
    return escapeValue(quoteArgument(executable) + QLatin1String(" --minimized"));
}

QByteArray entryContents(const QString &executable)
{
    // The same icon and window class as the installed desktop entry, so the
    // desktop's list of start-up programs shows it as that application.
    const QString entry = QLatin1String("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Kestrix\n"
                                        "Exec=") +
                          execValue(executable) +
                          QLatin1String("\n"
                                        "Icon=") +
                          QLatin1String(AppIdentity::kDesktopId) +
                          QLatin1String("\n"
                                        "StartupWMClass=") +
                          QLatin1String(AppIdentity::kWindowClass) +
                          QLatin1String("\n"
                                        "Terminal=false\n");
    return entry.toUtf8();
}

bool isEnabledEntry(const QByteArray &contents)
{
    bool inMainGroup = false;
    for (const QByteArray &rawLine : contents.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inMainGroup || equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "Hidden" && value == "true")
            return false;
        if (key == "X-GNOME-Autostart-enabled" && value == "false")
            return false;
    }
    return true;
}

} // namespace XdgAutostart

#ifndef Q_OS_WIN

namespace Autostart {

bool exists()
{
    QFile entry(XdgAutostart::entryPath());
    if (!entry.exists())
        return false;
    if (!entry.open(QIODevice::ReadOnly))
        return true; // present but unreadable: it is still there
    return XdgAutostart::isEnabledEntry(entry.readAll());
}

void write()
{
    const QString path = XdgAutostart::entryPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Written to a temporary file and renamed, so no reader ever sees half an entry.
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly))
        return;
    entry.write(XdgAutostart::entryContents(QCoreApplication::applicationFilePath()));
    entry.commit();
}

void remove()
{
    QFile::remove(XdgAutostart::entryPath());
}

} // namespace Autostart

#endif // !Q_OS_WIN
