#pragma once

class AppSettings;
class PipeClient;
class QQmlContext;
class TrayManager;

// Makes the core objects reachable from QML under the names the interface
// uses: "pipeClient", "trayManager" and "appSettings". The objects must
// outlive every QML object created in the context.
void publishCoreObjects(QQmlContext *context, PipeClient *pipeClient, TrayManager *trayManager,
                        AppSettings *appSettings);
