#include "app/qmlcontext.h"

#include "ipc/pipeclient.h"
#include "settings/appsettings.h"
#include "tray/traymanager.h"

#include <QQmlContext>

void publishCoreObjects(QQmlContext *context, PipeClient *pipeClient, TrayManager *trayManager,
                        AppSettings *appSettings)
{
    context->setContextProperty(QStringLiteral("pipeClient"), pipeClient);
    context->setContextProperty(QStringLiteral("trayManager"), trayManager);
    context->setContextProperty(QStringLiteral("appSettings"), appSettings);
}
