#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExtensionPlugin>
#include <QQmlPropertyMap>
#include <QtQuickTest/quicktest.h>

// The compiled-in interface module, served from qrc:/qml.
Q_IMPORT_QML_PLUGIN(qmlPlugin)

// Publishes what the interface reads from the application: a palette and a
// string table stand in for appSettings.
class Setup : public QObject
{
    Q_OBJECT
public slots:
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        // The interface module lives at qrc:/qml; tests import it as "qml".
        engine->addImportPath(QStringLiteral("qrc:/"));
        auto *settings = new QQmlPropertyMap(engine);
        const QList<QPair<const char *, const char *>> palette = {
            {"bg", "#101418"},         {"surface", "#1a2027"}, {"surfaceAlt", "#242c35"},
            {"fg", "#e8edf2"},         {"fgMuted", "#8b97a3"}, {"accent", "#3d8bfd"},
            {"accentText", "#ffffff"}, {"border", "#2e3944"},  {"success", "#2ecc71"},
            {"warning", "#f0ad4e"},    {"danger", "#e74c3c"},
        };
        for (const auto &[key, value] : palette)
            settings->insert(QLatin1String(key), QColor(QLatin1String(value)));
        settings->insert(QStringLiteral("whitelist"), true);
        settings->insert(QStringLiteral("games"), false);
        engine->rootContext()->setContextProperty(QStringLiteral("appSettings"), settings);
    }
};

QUICK_TEST_MAIN_WITH_SETUP(kestrix_qml, Setup)

#include "tst_qml.moc"
