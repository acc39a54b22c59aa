#include "ipc/systemtools_unix.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

namespace SystemTools {

QString path(const QString &name)
{
    // A name with a slash would be a path of its own, outside these folders.
    if (name.isEmpty() || name.contains(u'/'))
        return {};
    return QStandardPaths::findExecutable(name,
                                          {QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
}

void confine(QProcess &process, const QString &workingFolder)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"), QLatin1String(kPath));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingFolder);
}

} // namespace SystemTools
