#include "settings/appsettings.h"

#include <QCoreApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExtensionPlugin>
#include <QTemporaryDir>
#include <QtQuickTest/quicktest.h>

#include <memory>

// The compiled-in interface module, served from qrc:/qml.
Q_IMPORT_QML_PLUGIN(qmlPlugin)

// Publishes the real settings object, with its store in a private folder,
// as appSettings: the controls take their colours from it.
class Setup : public QObject
{
    Q_OBJECT
public:
    Setup()
    {
        // Before the application exists, so the store is never the user's.
        qputenv("XDG_CONFIG_HOME", (m_isolation.path() + QStringLiteral("/config")).toUtf8());
        qputenv("HOME", m_isolation.path().toUtf8());
    }

public slots:
    void applicationAvailable()
    {
        QCoreApplication::setApplicationName(QStringLiteral("Kestrix"));
        QCoreApplication::setOrganizationName(QStringLiteral("Kest"));
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        // The interface module lives at qrc:/qml; tests import it as "qml".
        engine->addImportPath(QStringLiteral("qrc:/"));
        m_settings = std::make_unique<AppSettings>();
        m_settings->setLanguage(QStringLiteral("en"));
        m_settings->setDarkTheme(true);
        engine->rootContext()->setContextProperty(QStringLiteral("appSettings"), m_settings.get());
    }

    void cleanupTestCase() { m_settings.reset(); }

private:
    QTemporaryDir m_isolation;
    std::unique_ptr<AppSettings> m_settings;
};

QUICK_TEST_MAIN_WITH_SETUP(kestrix_qml, Setup)

#include "tst_qml.moc"
