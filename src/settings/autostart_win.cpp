#include <QtGlobal>

#ifdef Q_OS_WIN

#include "settings/autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>

namespace Autostart {
namespace {

const QString kRunKey =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString kValueName = QStringLiteral("Kestrix");

// Quoted so that a path with blanks stays one argument.
QString commandLine()
{
    return QLatin1Char('"') + QDir::toNativeSeparators(QCoreApplication::applicationFilePath()) +
           QStringLiteral("\" --minimized");
}

} // namespace

bool exists()
{
    const QSettings run(kRunKey, QSettings::NativeFormat);
    return run.contains(kValueName);
}

void write()
{
    QSettings run(kRunKey, QSettings::NativeFormat);
    run.setValue(kValueName, commandLine());
    run.sync();
}

void remove()
{
    QSettings run(kRunKey, QSettings::NativeFormat);
    run.remove(kValueName);
    run.sync();
}

} // namespace Autostart

#endif // Q_OS_WIN
