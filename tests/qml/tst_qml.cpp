#include "settings/appsettings.h"

#include <QCoreApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExtensionPlugin>
#include <QTemporaryDir>
#include <QtQuickTest/quicktest.h>

#include "testmain.h"

#include <memory>
#include <vector>

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

// Qt Quick Test's main under the tests' convention (testmain.h): a run whose
// every test skipped reports as skipped, and a QML warning no test expected
// (a TypeError, an undefined text, a binding loop) fails it.
int main(int argc, char *argv[])
{
    QTEST_SET_MAIN_SOURCE_PATH
    Setup setup;
    return KestrixTest::execWith(KestrixTest::arguments(argc, argv), KestrixTest::Warnings::Strict,
                                 [&setup](const QStringList &args) {
                                     QList<QByteArray> bytes;
                                     for (const QString &arg : args)
                                         bytes << arg.toLocal8Bit();
                                     std::vector<char *> pointers;
                                     for (QByteArray &arg : bytes)
                                         pointers.push_back(arg.data());
                                     pointers.push_back(nullptr);
                                     return quick_test_main_with_setup(
                                         int(bytes.size()), pointers.data(), "kestrix_qml", nullptr,
                                         &setup);
                                 });
}

#include "tst_qml.moc"
