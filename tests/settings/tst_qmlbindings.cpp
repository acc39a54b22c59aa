// What the interface sees: QML expressions on appSettings are re-evaluated on
// the shared notify signals, and writes from QML go through the setters.

#include "settings/appsettings.h"
#include "settingsfixture.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QtTest>

#include <memory>

using namespace SettingsFixture;
using namespace Qt::StringLiterals;

// A binding as QML makes it: evaluated once, then tracked through the notify
// signals of everything it read.
class Binding
{
public:
    Binding(QQmlContext *context, const QString &source) : m_expression(context, nullptr, source)
    {
        m_expression.setNotifyOnValueChanged(true);
        m_value = m_expression.evaluate();
        QObject::connect(&m_expression, &QQmlExpression::valueChanged, &m_expression, [this] {
            m_value = m_expression.evaluate();
            ++m_updates;
        });
    }

    QVariant value() const { return m_value; }
    int updates() const { return m_updates; }
    QString error() const { return m_expression.error().toString(); }

private:
    QQmlExpression m_expression;
    QVariant m_value;
    int m_updates = 0;
};

class TestQmlBindings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void textBindingsFollowTheLanguage();
    void colourBindingsFollowTheTheme();
    void writesFromQmlAreStored();

private:
    QQmlContext *context() const { return m_engine->rootContext(); }

    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<QQmlEngine> m_engine;
};

void TestQmlBindings::init()
{
    resetStore();
    m_settings = std::make_unique<AppSettings>();
    m_engine = std::make_unique<QQmlEngine>();
    context()->setContextProperty(u"appSettings"_s, m_settings.get());
}

void TestQmlBindings::cleanup()
{
    m_engine.reset();
    m_settings.reset();
}

void TestQmlBindings::textBindingsFollowTheLanguage()
{
    Binding title(context(), u"appSettings.t.loginTitle"_s);
    Binding failed(context(), u"appSettings.t.notifyFailed"_s);
    QCOMPARE(title.value().toString(), u"Welcome to Kestrix"_s);
    QCOMPARE(failed.value().toString(), u"Connection failed"_s);

    QQmlExpression(context(), nullptr, u"appSettings.setLanguage(\"en\")"_s).evaluate();
    QCOMPARE(title.updates(), 0);

    QQmlExpression(context(), nullptr, u"appSettings.setLanguage(\"ru\")"_s).evaluate();
    QCOMPARE(title.updates(), 1);
    QCOMPARE(title.value().toString(), u"Добро пожаловать в Kestrix"_s);
    QCOMPARE(failed.value().toString(), u"Сбой подключения"_s);
    QCOMPARE(storedOnDisk(u"ui/language"_s), u"ru"_s);
}

void TestQmlBindings::colourBindingsFollowTheTheme()
{
    Binding bg(context(), u"appSettings.bg"_s);
    Binding success(context(), u"appSettings.success"_s);
    QCOMPARE(bg.value().value<QColor>(), QColor(0x0F, 0x11, 0x15));

    QQmlExpression(context(), nullptr, u"appSettings.toggleTheme()"_s).evaluate();

    QCOMPARE(bg.updates(), 1);
    QCOMPARE(bg.value().value<QColor>(), QColor(0xEE, 0xF1, 0xF6));
    QCOMPARE(success.value().value<QColor>(), QColor(0x2F, 0xBF, 0x71));
}

void TestQmlBindings::writesFromQmlAreStored()
{
    Binding games(context(), u"appSettings.games"_s);

    QQmlExpression write(context(), nullptr, u"appSettings.whitelist = true"_s);
    write.evaluate();
    QVERIFY2(!write.hasError(), qPrintable(write.error().toString()));
    QVERIFY(m_settings->whitelist());
    QCOMPARE(storedOnDisk(u"ui/whitelist"_s), u"true"_s);

    m_settings->setGames(true);
    QCOMPARE(games.value(), QVariant(true));
}

KESTRIX_SETTINGS_TEST_MAIN(TestQmlBindings)

#include "tst_qmlbindings.moc"
