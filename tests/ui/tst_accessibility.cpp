#include "settings/palette.h"
#include "uifixture.h"

#include <QAccessible>
#include <QGuiApplication>

// The interface as a screen reader and a keyboard user meet it: every control
// in the accessibility tree with its role, name and state in the current
// language, its default action doing what its click does, readable texts,
// the Tab order, the keys that act, and a focus ring for the keyboard only.
class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void controls_data();
    void controls();
    void readableTexts_data();
    void readableTexts();
    void descriptions_data();
    void descriptions();
    void changesAreAnnounced();
    void defaultActions_data();
    void defaultActions();
    void onePressOneClick();
    void tabOrder_data();
    void tabOrder();
    void keysActivate_data();
    void keysActivate();
    void arrowsMoveWithinGroup_data();
    void arrowsMoveWithinGroup();
    void escapeLeavesSettings();
    void escapeClosesPopup();
    void shownWindowFocusesItsScreen();
    void focusRingForKeyboardOnly();
    void ringReturnsAfterBusy();
};

namespace {

// What each row sets up: the screen and state, as a user would reach them.
enum class Setup
{
    SignedOut,
    Waiting,
    Disconnected,
    Connected,
    SettingsTop,
    SettingsBottomWithUpdate,
    Error,
    PopupSignedIn,
    PopupSignedOut,
};

bool setUp(UiShell &ui, Setup setup)
{
    const bool signedIn =
        setup != Setup::SignedOut && setup != Setup::Waiting && setup != Setup::PopupSignedOut;
    if (!ui.start(signedIn) || !ui.show())
        return false;
    switch (setup) {
    case Setup::Waiting: {
        // The state a sign-in's page leaves, set directly: no browser starts.
        QQuickItem *login = ui.screenItem();
        login->setProperty("waitingForBrowser", true);
        login->setProperty("remainingMs", 299000);
        return true;
    }
    case Setup::Connected:
    case Setup::PopupSignedIn:
        return ui.deliver(UiShell::status(
            "connected", R"(,"endpoint":"vpn.example.invalid:443","up":1536,"down":2048)"));
    case Setup::SettingsBottomWithUpdate:
        if (!ui.deliver(R"({"type":"update_available","update_version":"2.1.0"})"))
            return false;
        [[fallthrough]];
    case Setup::SettingsTop: {
        ui.window->setProperty("screen", QStringLiteral("settings"));
        QQuickItem *settings = ui.screenItem();
        const qreal range = settings->property("contentHeight").toReal() - settings->height();
        settings->setProperty("contentY",
                              setup == Setup::SettingsTop ? 0.0 : qMax<qreal>(0, range));
        return true;
    }
    case Setup::Error:
        return ui.deliver(UiShell::status("failed", R"(,"error":"No transport got through")"));
    default:
        return true;
    }
}

bool isPopup(Setup setup)
{
    return setup == Setup::PopupSignedIn || setup == Setup::PopupSignedOut;
}

// The tray popup, opened the way a right click on the tray icon opens it.
QQuickWindow *openPopup(UiShell &ui)
{
    emit ui.tray.popupRequested(400, 500);
    QQuickWindow *found = nullptr;
    (void)QTest::qWaitFor([&] {
        for (QWindow *w : QGuiApplication::topLevelWindows()) {
            auto *quick = qobject_cast<QQuickWindow *>(w);
            if (quick && quick != ui.window && quick->isVisible() &&
                findItem(quick->contentItem(), QStringLiteral("card")))
                found = quick;
        }
        return found != nullptr;
    });
    return found && QTest::qWaitForWindowExposed(found) ? found : nullptr;
}

QString roleName(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::Button:
        return QStringLiteral("button");
    case QAccessible::CheckBox:
        return QStringLiteral("checkbox");
    case QAccessible::RadioButton:
        return QStringLiteral("radio");
    case QAccessible::StaticText:
        return QStringLiteral("text");
    default:
        return QString::number(role);
    }
}

bool isControl(QAccessible::Role role)
{
    return role == QAccessible::Button || role == QAccessible::CheckBox ||
           role == QAccessible::RadioButton;
}

// The shown controls below `node`, in the tree's order, each as
// "role:name" and ":checked" when checked.
void collectControls(QAccessibleInterface *node, QStringList *out,
                     QList<QAccessibleInterface *> *nodes = nullptr)
{
    for (int i = 0; i < node->childCount(); ++i) {
        QAccessibleInterface *child = node->child(i);
        if (!child || child->state().invisible)
            continue;
        if (isControl(child->role())) {
            QString entry = roleName(child->role()) + ':' + child->text(QAccessible::Name);
            if (child->state().checked)
                entry += QStringLiteral(":checked");
            out->append(entry);
            if (nodes)
                nodes->append(child);
        }
        collectControls(child, out, nodes);
    }
}

QStringList controlsOf(QWindow *window, QList<QAccessibleInterface *> *nodes = nullptr)
{
    QStringList out;
    if (QAccessibleInterface *root = QAccessible::queryAccessibleInterface(window))
        collectControls(root, &out, nodes);
    return out;
}

QAccessibleInterface *accessible(QQuickItem *item)
{
    return item ? QAccessible::queryAccessibleInterface(item) : nullptr;
}

QQuickWindow *windowFor(UiShell &ui, Setup setup)
{
    return isPopup(setup) ? openPopup(ui) : ui.window;
}

QQuickItem *itemIn(QQuickWindow *window, const QString &name)
{
    return window ? findItem(window->contentItem(), name) : nullptr;
}

QString focusedName(QQuickWindow *window)
{
    QQuickItem *item = window->activeFocusItem();
    return item ? item->objectName() : QStringLiteral("(none)");
}

// The objectName of the focus ring's owner is enough: the ring is the one
// FocusRing child, found by what it draws.
QQuickItem *ringOf(QQuickItem *control)
{
    for (QQuickItem *child : control->childItems())
        if (child->metaObject()->indexOfProperty("cornerRadius") >= 0)
            return child;
    return nullptr;
}

const QStringList kTitle = {"button:Settings", "button:Minimise", "button:Close"};
const QStringList kTitleRu = {"button:Настройки", "button:Свернуть", "button:Закрыть"};
const QStringList kSettingsEn = {"button:Back",
                                 "button:Minimise",
                                 "button:Close",
                                 "radio:Off:checked",
                                 "radio:On",
                                 "radio:Always",
                                 "checkbox:Dark theme:checked",
                                 "checkbox:Start with Windows",
                                 "checkbox:Whitelist mode",
                                 "checkbox:Gaming mode",
                                 "radio:English:checked",
                                 "radio:Russian",
                                 "button:Save diagnostic report"};
const QStringList kSettingsRu = {"button:Назад",
                                 "button:Свернуть",
                                 "button:Закрыть",
                                 "radio:Выкл:checked",
                                 "radio:Вкл",
                                 "radio:Всегда",
                                 "checkbox:Тёмная тема:checked",
                                 "checkbox:Запуск вместе с Windows",
                                 "checkbox:Режим белых списков",
                                 "checkbox:Игровой режим",
                                 "radio:Английский",
                                 "radio:Русский:checked",
                                 "button:Сохранить отчёт"};

} // namespace

Q_DECLARE_METATYPE(Setup)

void TestAccessibility::controls_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("signed out, en")
        << Setup::SignedOut << "en"
        << QStringList{"button:Minimise", "button:Close", "radio:English:checked", "radio:Russian",
                       "button:Sign in"};
    QTest::newRow("signed out, ru")
        << Setup::SignedOut << "ru"
        << QStringList{"button:Свернуть", "button:Закрыть", "radio:Английский",
                       "radio:Русский:checked", "button:Войти"};
    QTest::newRow("waiting, en") << Setup::Waiting << "en"
                                 << QStringList{"button:Minimise", "button:Close",
                                                "radio:English:checked", "radio:Russian",
                                                "button:Cancel"};
    QTest::newRow("waiting, ru") << Setup::Waiting << "ru"
                                 << QStringList{"button:Свернуть", "button:Закрыть",
                                                "radio:Английский", "radio:Русский:checked",
                                                "button:Отмена"};
    QTest::newRow("disconnected, en")
        << Setup::Disconnected << "en" << kTitle + QStringList{"button:Connect", "button:Connect"};
    QTest::newRow("disconnected, ru")
        << Setup::Disconnected << "ru"
        << kTitleRu + QStringList{"button:Подключить", "button:Подключить"};
    QTest::newRow("connected, en")
        << Setup::Connected << "en"
        << kTitle + QStringList{"button:Disconnect", "checkbox:Server", "button:Disconnect"};
    QTest::newRow("connected, ru")
        << Setup::Connected << "ru"
        << kTitleRu + QStringList{"button:Отключить", "checkbox:Сервер", "button:Отключить"};
    QTest::newRow("settings top, en")
        << Setup::SettingsTop << "en" << kSettingsEn + QStringList{"button:Log out"};
    QTest::newRow("settings top, ru")
        << Setup::SettingsTop << "ru" << kSettingsRu + QStringList{"button:Выйти"};
    QTest::newRow("settings bottom with update, en")
        << Setup::SettingsBottomWithUpdate << "en"
        << kSettingsEn + QStringList{"button:Update", "button:Log out"};
    QTest::newRow("settings bottom with update, ru")
        << Setup::SettingsBottomWithUpdate << "ru"
        << kSettingsRu + QStringList{"button:Обновить", "button:Выйти"};
    QTest::newRow("error, en") << Setup::Error << "en" << kTitle + QStringList{"button:Try again"};
    QTest::newRow("error, ru") << Setup::Error << "ru"
                               << kTitleRu + QStringList{"button:Повторить"};
    QTest::newRow("popup signed in, en")
        << Setup::PopupSignedIn << "en"
        << QStringList{"button:Disconnect", "button:Open Kestrix", "button:Quit"};
    QTest::newRow("popup signed in, ru")
        << Setup::PopupSignedIn << "ru"
        << QStringList{"button:Отключить", "button:Открыть Kestrix", "button:Выход"};
    QTest::newRow("popup signed out, en")
        << Setup::PopupSignedOut << "en"
        << QStringList{"button:Connect", "button:Open Kestrix", "button:Quit"};
    QTest::newRow("popup signed out, ru")
        << Setup::PopupSignedOut << "ru"
        << QStringList{"button:Подключить", "button:Открыть Kestrix", "button:Выход"};
}

void TestAccessibility::controls()
{
    QFETCH(Setup, setup);
    QFETCH(QString, language);
    QFETCH(QStringList, expected);

    UiShell ui;
    QVERIFY(setUp(ui, setup));
    QQuickWindow *window = windowFor(ui, setup);
    QVERIFY(window);
    // The language changes while everything is shown: every name follows at once.
    ui.settings.setLanguage(language);

    QList<QAccessibleInterface *> nodes;
    QCOMPARE(controlsOf(window, &nodes), expected);

    // A button is pressed; a check box or radio button is toggled or pressed;
    // each takes the focus. Each action is listed once: AT-SPI hands the list
    // to the screen reader as it is.
    for (QAccessibleInterface *node : std::as_const(nodes)) {
        const QString what = node->text(QAccessible::Name);
        QVERIFY2(node->state().focusable, qPrintable(what));
        QVERIFY2(node->actionInterface(), qPrintable(what));
        const QStringList actions = node->actionInterface()->actionNames();
        const QStringList wanted = node->role() == QAccessible::Button
                                       ? QStringList{QAccessibleActionInterface::pressAction(),
                                                     QAccessibleActionInterface::setFocusAction()}
                                       : QStringList{QAccessibleActionInterface::toggleAction(),
                                                     QAccessibleActionInterface::pressAction(),
                                                     QAccessibleActionInterface::setFocusAction()};
        QVERIFY2(actions == wanted, qPrintable(what + ": " + actions.join(',')));
        if (node->role() != QAccessible::Button)
            QVERIFY2(node->state().checkable, qPrintable(what));
    }
}

void TestAccessibility::readableTexts_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("name"); // a regular expression

    QTest::newRow("title-bar state") << Setup::Connected << "en"
                                     << "stateDot"
                                     << "Protected";
    QTest::newRow("title-bar state, ru") << Setup::Error << "ru"
                                         << "stateDot"
                                         << "Сбой подключения";
    QTest::newRow("state word") << Setup::Connected << "en"
                                << "bigWord"
                                << "ON";
    QTest::newRow("status line") << Setup::Disconnected << "ru"
                                 << "statusLine"
                                 << "Не подключено";
    QTest::newRow("session") << Setup::Connected << "en"
                             << "sessionValue"
                             << "\\d\\d:\\d\\d";
    QTest::newRow("speeds") << Setup::Connected << "en"
                            << "speedValue"
                            << "↓ 0 KB/s  ↑ 0 KB/s";
    QTest::newRow("traffic") << Setup::Connected << "en"
                             << "trafficValue"
                             << "↓ 2.00 KB  ↑ 1.50 KB";
    QTest::newRow("countdown") << Setup::Waiting << "en"
                               << "countdownLine"
                               << "Expires in 4:5\\d";
    QTest::newRow("countdown, ru") << Setup::Waiting << "ru"
                                   << "countdownLine"
                                   << "Истекает через 4:5\\d";
    QTest::newRow("error") << Setup::Error << "en"
                           << "errorDetail"
                           << "No transport got through";
    QTest::newRow("update banner") << Setup::SettingsBottomWithUpdate << "en"
                                   << "updateStatus"
                                   << "Update available 2.1.0";
    QTest::newRow("popup state") << Setup::PopupSignedIn << "ru"
                                 << "stateLine"
                                 << "Защищено";
    QTest::newRow("popup session") << Setup::PopupSignedIn << "en"
                                   << "sessionLine"
                                   << "\\d\\d:\\d\\d";
    QTest::newRow("popup speed") << Setup::PopupSignedIn << "en"
                                 << "downSpeed"
                                 << "↓ 0 KB/s";
}

void TestAccessibility::readableTexts()
{
    QFETCH(Setup, setup);
    QFETCH(QString, language);
    QFETCH(QString, item);
    QFETCH(QString, name);

    UiShell ui;
    QVERIFY(setUp(ui, setup));
    QQuickWindow *window = windowFor(ui, setup);
    ui.settings.setLanguage(language);
    QAccessibleInterface *node = accessible(itemIn(window, item));
    QVERIFY(node);
    QCOMPARE(node->role(), QAccessible::StaticText);
    QVERIFY(!node->state().invisible);
    const QString text = node->text(QAccessible::Name);
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(name)).match(text).hasMatch(),
             qPrintable(text));
}

// What a screen reader adds after a control's name: the long form of each
// kill-switch mode, each preference's explanation, the dial's state and the
// update waiting behind the settings button, in the language shown.
void TestAccessibility::descriptions_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("description");

    const struct
    {
        Setup setup;
        const char *where;
        const char *item;
        const char *en;
        const char *ru;
    } rows[] = {
        {Setup::SettingsTop, "settings", "ksNever", "Off — no blocking", "Выкл — без блокировки"},
        {Setup::SettingsTop, "settings", "ksOnConnect", "On — blocks when VPN drops",
         "Вкл — блокирует при разрыве VPN"},
        {Setup::SettingsTop, "settings", "ksAlways", "Always — blocks without VPN too",
         "Всегда — блокирует без VPN тоже"},
        {Setup::SettingsTop, "settings", "themeCardSwitch", "Dark mode is on",
         "Тёмная тема включена"},
        {Setup::SettingsTop, "settings", "autostartCardSwitch", "Launch Kestrix at sign-in",
         "Запускать Kestrix при входе в систему"},
        {Setup::SettingsTop, "settings", "whitelistCardSwitch",
         "Route Russian sites directly; tunnel everything else",
         "Российские сайты — напрямую, остальное — через VPN"},
        {Setup::SettingsTop, "settings", "gamesCardSwitch",
         "Route games and launchers directly, bypassing the VPN. Turn off if a game is "
         "unavailable from Russia",
         "Игры и лаунчеры — напрямую, минуя VPN. Выключите, если игра недоступна из России"},
        {Setup::Disconnected, "disconnected", "dial", "Not connected", "Не подключено"},
        {Setup::Connected, "connected", "dial", "Protected", "Защищено"},
        {Setup::SettingsBottomWithUpdate, "update", "settingsButton", "Update available",
         "Доступно обновление"},
        {Setup::Disconnected, "disconnected", "settingsButton", "", ""},
        {Setup::Connected, "connected", "serverValue", "", ""}, // hidden until revealed
    };
    for (const auto &row : rows) {
        QTest::addRow("%s, %s, en", row.where, row.item)
            << row.setup << "en" << row.item << QString::fromUtf8(row.en);
        QTest::addRow("%s, %s, ru", row.where, row.item)
            << row.setup << "ru" << row.item << QString::fromUtf8(row.ru);
    }
}

void TestAccessibility::descriptions()
{
    QFETCH(Setup, setup);
    QFETCH(QString, language);
    QFETCH(QString, item);
    QFETCH(QString, description);

    UiShell ui;
    QVERIFY(setUp(ui, setup));
    // Changed while shown: the descriptions follow at once.
    ui.settings.setLanguage(language);
    QAccessibleInterface *node = accessible(ui.item(item));
    QVERIFY(node);
    QCOMPARE(node->text(QAccessible::Description), description);
}

// Qt 6.4 has no announcement event: a change of a shown text's accessible
// name is what reaches the screen reader (NameChanged, on AT-SPI a change of
// "accessible-name"). The title bar's state dot carries the VPN state on
// every screen, and the error texts carry each new error.
void TestAccessibility::changesAreAnnounced()
{
    UiShell ui;
    QVERIFY(setUp(ui, Setup::Disconnected));
    const auto nameChanges = [&](const char *item) {
        QObject *attached = nullptr;
        for (QObject *child : ui.item(QLatin1String(item))->children())
            if (qstrcmp(child->metaObject()->className(), "QQuickAccessibleAttached") == 0)
                attached = child;
        return std::make_unique<QSignalSpy>(attached, SIGNAL(nameChanged()));
    };
    const auto nameOf = [&](const char *item) {
        return accessible(ui.item(QLatin1String(item)))->text(QAccessible::Name);
    };

    auto state = nameChanges("stateDot");
    QVERIFY(state->isValid());
    QVERIFY(ui.deliver(UiShell::status("connecting")));
    QCOMPARE(nameOf("stateDot"), QStringLiteral("Connecting…"));
    QCOMPARE(state->count(), 1);

    auto error = nameChanges("errorLine");
    QVERIFY(ui.deliver(UiShell::status("disconnected", R"(,"error":"Handshake refused")")));
    QCOMPARE(nameOf("stateDot"), QStringLiteral("Not connected"));
    QCOMPARE(state->count(), 2);
    QCOMPARE(nameOf("errorLine"), QStringLiteral("Handshake refused"));
    QCOMPARE(error->count(), 1);

    // A failure takes the user to the error screen, whose text is read out.
    QVERIFY(ui.deliver(UiShell::status("failed", R"(,"error":"No transport got through")")));
    QCOMPARE(nameOf("stateDot"), QStringLiteral("Connection failed"));
    QCOMPARE(nameOf("errorDetail"), QStringLiteral("No transport got through"));
    auto detail = nameChanges("errorDetail");
    QVERIFY(ui.deliver(UiShell::status("failed", R"(,"error":"Server unreachable")")));
    QCOMPARE(detail->count(), 1);
}

void TestAccessibility::defaultActions_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QByteArray>("command"); // the line the daemon receives, if any
    QTest::addColumn<QString>("effect");     // what else must follow, if anything

    const QString press = QAccessibleActionInterface::pressAction();
    const QString toggle = QAccessibleActionInterface::toggleAction();
    const QByteArray connect = R"({"cmd":"connect","payload":{"games":false,"whitelist":false}})";
    const QByteArray disconnect = R"({"cmd":"disconnect"})";

    QTest::newRow("sign in") << Setup::SignedOut << "signInButton" << press
                             << QByteArray(R"({"cmd":"login_start"})") << "";
    QTest::newRow("cancel") << Setup::Waiting << "cancelButton" << press
                            << QByteArray(R"({"cmd":"login_cancel"})") << "screen loginScreen";
    QTest::newRow("language") << Setup::SignedOut << "languageRu" << toggle << QByteArray()
                              << "language ru";
    QTest::newRow("dial") << Setup::Disconnected << "dial" << press << connect << "";
    QTest::newRow("dial, connected") << Setup::Connected << "dial" << press << disconnect << "";
    QTest::newRow("action button")
        << Setup::Disconnected << "actionButton" << press << connect << "";
    QTest::newRow("server spoiler")
        << Setup::Connected << "serverValue" << toggle << QByteArray() << "revealed";
    QTest::newRow("settings") << Setup::Disconnected << "settingsButton" << press << QByteArray()
                              << "screen settingsScreen";
    QTest::newRow("back") << Setup::SettingsTop << "settingsButton" << press << QByteArray()
                          << "screen mainScreen";
    QTest::newRow("close") << Setup::Disconnected << "closeButton" << press << QByteArray()
                           << "hidden";
    QTest::newRow("kill switch") << Setup::SettingsTop << "ksAlways" << toggle
                                 << QByteArray(
                                        R"({"cmd":"set_kill_switch","payload":{"mode":"always"}})")
                                 << "";
    QTest::newRow("switch") << Setup::SettingsTop << "whitelistCardSwitch" << toggle << QByteArray()
                            << "whitelist";
    QTest::newRow("switch, press")
        << Setup::SettingsTop << "gamesCardSwitch" << press << QByteArray() << "games";
    QTest::newRow("diagnostics") << Setup::SettingsTop << "diagButton" << press
                                 << QByteArray(R"({"cmd":"get_diag"})") << "";
    QTest::newRow("update") << Setup::SettingsBottomWithUpdate << "updateButton" << press
                            << QByteArray(R"({"cmd":"install_update"})") << "";
    QTest::newRow("log out") << Setup::SettingsTop << "logOutButton" << press
                             << QByteArray(R"({"cmd":"logout"})") << "screen mainScreen";
    QTest::newRow("try again") << Setup::Error << "errorTryAgainButton" << press << connect << "";
    QTest::newRow("popup connect")
        << Setup::PopupSignedIn << "actionButton" << press << disconnect << "";
    QTest::newRow("popup open") << Setup::PopupSignedIn << "openButton" << press << QByteArray()
                                << "showRequested";
    QTest::newRow("popup quit") << Setup::PopupSignedOut << "quitButton" << press << QByteArray()
                                << "quitRequested";
}

void TestAccessibility::defaultActions()
{
    QFETCH(Setup, setup);
    QFETCH(QString, control);
    QFETCH(QString, action);
    QFETCH(QByteArray, command);
    QFETCH(QString, effect);

    UiShell ui;
    QVERIFY(setUp(ui, setup));
    QQuickWindow *window = windowFor(ui, setup);
    QAccessibleInterface *node = accessible(itemIn(window, control));
    QVERIFY(node);
    QVERIFY(node->actionInterface());
    QSignalSpy shown(&ui.tray, &TrayManager::showRequested);
    QSignalSpy quit(&ui.tray, &TrayManager::quitRequested);
    ui.daemon.clearLines();

    node->actionInterface()->doAction(action);

    if (!command.isEmpty())
        QVERIFY(ui.waitForCommand(command));
    if (effect.startsWith(QLatin1String("screen ")))
        QTRY_COMPARE(ui.screenName(), effect.mid(7));
    else if (effect == QLatin1String("language ru"))
        QCOMPARE(ui.settings.language(), QStringLiteral("ru"));
    else if (effect == QLatin1String("revealed"))
        QVERIFY(itemIn(window, control)->property("revealed").toBool());
    else if (effect == QLatin1String("hidden"))
        QTRY_VERIFY(!ui.window->isVisible());
    else if (effect == QLatin1String("whitelist"))
        QVERIFY(ui.settings.whitelist());
    else if (effect == QLatin1String("games"))
        QVERIFY(ui.settings.games());
    else if (effect == QLatin1String("showRequested"))
        QCOMPARE(shown.count(), 1);
    else if (effect == QLatin1String("quitRequested"))
        QCOMPARE(quit.count(), 1);
    else
        QVERIFY2(effect.isEmpty(), qPrintable(effect));
}

// A button's owner adds its click handler only: one accessible press is one
// click, even where the owner once wired the press itself.
void TestAccessibility::onePressOneClick()
{
    UiShell ui;
    QVERIFY(setUp(ui, Setup::SignedOut));
    for (const char *name : {"retryNowButton", "signInButton"}) {
        QQuickItem *button = ui.item(QLatin1String(name));
        QVERIFY2(button, name);
        QSignalSpy clicked(button, SIGNAL(clicked()));
        accessible(button)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY2(clicked.count() == 1, name);
    }
}

void TestAccessibility::tabOrder_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("start");     // what holds the focus when the window comes up
    QTest::addColumn<QStringList>("order"); // from the first Tab on, wrapping round

    // The window comes up with its screen, not a control: the first Tab goes
    // into the screen, and the title bar comes after the screen's last control.
    const QStringList title = {"settingsButton", "minimizeButton", "closeButton"};
    const QStringList titleSignedOut = {"minimizeButton", "closeButton"};
    QTest::newRow("signed out") << Setup::SignedOut << "screenStart"
                                << QStringList{"languageEn", "languageRu", "signInButton"} +
                                       titleSignedOut;
    QTest::newRow("waiting") << Setup::Waiting << "screenStart"
                             << QStringList{"languageEn", "languageRu", "cancelButton"} +
                                    titleSignedOut;
    QTest::newRow("disconnected") << Setup::Disconnected << "screenStart"
                                  << QStringList{"dial", "actionButton"} + title;
    QTest::newRow("connected") << Setup::Connected << "screenStart"
                               << QStringList{"dial", "serverValue", "actionButton"} + title;
    QTest::newRow("settings")
        << Setup::SettingsBottomWithUpdate << "screenStart"
        << QStringList{"ksNever",         "ksOnConnect",         "ksAlways",
                       "themeCardSwitch", "autostartCardSwitch", "whitelistCardSwitch",
                       "gamesCardSwitch", "settingsLanguageEn",  "settingsLanguageRu",
                       "diagButton",      "updateButton",        "logOutButton"} +
               title;
    QTest::newRow("error") << Setup::Error << "screenStart"
                           << QStringList{"errorTryAgainButton"} + title;
    // The popup is all controls: it opens on its first.
    QTest::newRow("popup") << Setup::PopupSignedIn << "actionButton"
                           << QStringList{"openButton", "quitButton", "actionButton"};
    // A disabled button takes no focus.
    QTest::newRow("popup signed out")
        << Setup::PopupSignedOut << "openButton" << QStringList{"quitButton", "openButton"};
}

void TestAccessibility::tabOrder()
{
    QFETCH(Setup, setup);
    QFETCH(QString, start);
    QFETCH(QStringList, order);

    UiShell ui;
    QVERIFY(setUp(ui, setup));
    QQuickWindow *window = windowFor(ui, setup);
    QVERIFY(window);
    if (!isPopup(setup))
        QMetaObject::invokeMethod(window, "showAndRaise");
    QTRY_VERIFY(window->isActive());
    QTRY_COMPARE(focusedName(window), start);

    QStringList forward;
    for (qsizetype i = 0; i < order.size(); ++i) {
        QTest::keyClick(window, Qt::Key_Tab);
        forward << focusedName(window);
        // The settings scroll to show what the keyboard is on.
        QQuickItem *focused = window->activeFocusItem();
        const QRectF onScreen =
            focused->mapRectToScene(QRectF(0, 0, focused->width(), focused->height()));
        QVERIFY2(onScreen.top() >= 0 && onScreen.bottom() <= window->height(),
                 qPrintable(focused->objectName()));
    }
    QCOMPARE(forward, order);
    // Round again: the screen holds no stop of its own.
    QTest::keyClick(window, Qt::Key_Tab);
    QCOMPARE(focusedName(window), order.first());

    QStringList backward;
    for (qsizetype i = 0; i < order.size(); ++i) {
        QTest::keyClick(window, Qt::Key_Backtab, Qt::ShiftModifier);
        backward << focusedName(window);
    }
    QStringList reversed(order.crbegin(), order.crend());
    QCOMPARE(backward, reversed);
}

void TestAccessibility::keysActivate_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("key");
    QTest::addColumn<QByteArray>("command");

    const QByteArray signIn = R"({"cmd":"login_start"})";
    const QByteArray connect = R"({"cmd":"connect","payload":{"games":false,"whitelist":false}})";
    QTest::newRow("space") << Setup::SignedOut << "signInButton" << int(Qt::Key_Space) << signIn;
    QTest::newRow("return") << Setup::SignedOut << "signInButton" << int(Qt::Key_Return) << signIn;
    QTest::newRow("enter") << Setup::SignedOut << "signInButton" << int(Qt::Key_Enter) << signIn;
    QTest::newRow("dial") << Setup::Disconnected << "dial" << int(Qt::Key_Space) << connect;
    QTest::newRow("segment") << Setup::SettingsTop << "ksOnConnect" << int(Qt::Key_Return)
                             << QByteArray(
                                    R"({"cmd":"set_kill_switch","payload":{"mode":"on_connect"}})");
    QTest::newRow("popup") << Setup::PopupSignedOut << "quitButton" << int(Qt::Key_Space)
                           << QByteArray();
}

void TestAccessibility::keysActivate()
{
    QFETCH(Setup, setup);
    QFETCH(QString, control);
    QFETCH(int, key);
    QFETCH(QByteArray, command);

    UiShell ui;
    QVERIFY(setUp(ui, setup));
    QQuickWindow *window = windowFor(ui, setup);
    QTRY_VERIFY(window->isActive());
    QQuickItem *item = itemIn(window, control);
    QVERIFY(item);
    item->forceActiveFocus(Qt::TabFocusReason);
    QSignalSpy quit(&ui.tray, &TrayManager::quitRequested);
    ui.daemon.clearLines();

    QTest::keyClick(window, Qt::Key(key));

    if (command.isEmpty()) {
        QCOMPARE(quit.count(), 1);
    } else {
        QVERIFY(ui.waitForCommand(command));
        QCOMPARE(ui.daemon.lines().count(command), 1);
    }
}

void TestAccessibility::arrowsMoveWithinGroup_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("to");

    QTest::newRow("segment right")
        << Setup::SettingsTop << "ksNever" << int(Qt::Key_Right) << "ksOnConnect";
    QTest::newRow("segment down") << Setup::SettingsTop << "ksOnConnect" << int(Qt::Key_Down)
                                  << "ksAlways";
    QTest::newRow("segment left") << Setup::SettingsTop << "ksAlways" << int(Qt::Key_Left)
                                  << "ksOnConnect";
    QTest::newRow("last segment stays")
        << Setup::SettingsTop << "ksAlways" << int(Qt::Key_Right) << "ksAlways";
    QTest::newRow("first segment stays")
        << Setup::SettingsTop << "ksNever" << int(Qt::Key_Up) << "ksNever";
    QTest::newRow("login language")
        << Setup::SignedOut << "languageEn" << int(Qt::Key_Right) << "languageRu";
    QTest::newRow("settings language")
        << Setup::SettingsTop << "settingsLanguageRu" << int(Qt::Key_Left) << "settingsLanguageEn";
}

void TestAccessibility::arrowsMoveWithinGroup()
{
    QFETCH(Setup, setup);
    QFETCH(QString, from);
    QFETCH(int, key);
    QFETCH(QString, to);

    UiShell ui;
    QVERIFY(setUp(ui, setup));
    QTRY_VERIFY(ui.window->isActive());
    ui.item(from)->forceActiveFocus(Qt::TabFocusReason);
    ui.daemon.clearLines();
    const QString language = ui.settings.language();

    QTest::keyClick(ui.window, Qt::Key(key));

    QCOMPARE(focusedName(ui.window), to);
    QVERIFY(ringOf(ui.item(to))->isVisible());
    // Moving chooses nothing: no request, no change of language.
    ui.pipe.sendPing();
    QVERIFY(ui.waitForCommand(R"({"cmd":"ping"})"));
    QCOMPARE(ui.daemon.lines().size(), 1);
    QCOMPARE(ui.settings.language(), language);
}

void TestAccessibility::escapeLeavesSettings()
{
    UiShell ui;
    QVERIFY(setUp(ui, Setup::SettingsTop));
    QTRY_VERIFY(ui.window->isActive());
    QTest::keyClick(ui.window, Qt::Key_Tab);
    QTest::keyClick(ui.window, Qt::Key_Escape);
    QTRY_COMPARE(ui.screenName(), QStringLiteral("mainScreen"));
    // The keyboard lands where the way back to the settings is.
    QCOMPARE(focusedName(ui.window), QStringLiteral("settingsButton"));
    QVERIFY(ringOf(ui.item(QStringLiteral("settingsButton")))->isVisible());

    // Elsewhere Esc changes nothing.
    QTest::keyClick(ui.window, Qt::Key_Escape);
    QCOMPARE(ui.screenName(), QStringLiteral("mainScreen"));
}

void TestAccessibility::escapeClosesPopup()
{
    UiShell ui;
    QVERIFY(setUp(ui, Setup::PopupSignedIn));
    QQuickWindow *popup = openPopup(ui);
    QVERIFY(popup);
    QTRY_VERIFY(popup->isActive());
    QTest::keyClick(popup, Qt::Key_Escape);
    QTRY_VERIFY(!popup->isVisible());
}

void TestAccessibility::shownWindowFocusesItsScreen()
{
    UiShell ui;
    QVERIFY(setUp(ui, Setup::Connected));
    ui.window->hide();
    QTRY_VERIFY(!ui.window->isVisible());

    // What the start, a tray click and a second start all call.
    QMetaObject::invokeMethod(ui.window, "showAndRaise");
    QTRY_VERIFY(ui.window->isActive());
    QCOMPARE(focusedName(ui.window), QStringLiteral("screenStart"));

    // A screen reader meets the window, then the screen with its state, not
    // a title-bar button.
    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(ui.window);
    QVERIFY(window);
    QAccessibleInterface *focused = window->focusChild();
    QVERIFY(focused);
    QCOMPARE(focused->role(), QAccessible::Pane);
    QCOMPARE(focused->text(QAccessible::Name), QStringLiteral("Protected"));

    // The first Tab reaches the screen's first control, with its ring.
    QTest::keyClick(ui.window, Qt::Key_Tab);
    QCOMPARE(focusedName(ui.window), QStringLiteral("dial"));
    QVERIFY(ringOf(ui.item(QStringLiteral("dial")))->isVisible());
    QVERIFY(!ringOf(ui.item(QStringLiteral("minimizeButton")))->isVisible());
}

void TestAccessibility::focusRingForKeyboardOnly()
{
    UiShell ui;
    QVERIFY(setUp(ui, Setup::Disconnected));
    QTRY_VERIFY(ui.window->isActive());
    QQuickItem *button = ui.item(QStringLiteral("actionButton"));
    const QColor accent = Palette::color(Palette::Role::Accent, true);
    // The ring lies 2 px outside the button's left edge, across its middle.
    const QPoint onRing = button->mapToScene(QPointF(-3, button->height() / 2)).toPoint() *
                          ui.window->devicePixelRatio();
    const auto ringDrawn = [&] {
        const QImage shot = ui.window->grabWindow();
        return shot.pixelColor(onRing) == accent;
    };
    QVERIFY(!ringDrawn());

    // Keyboard: the second Tab from the screen, after the dial, is the button.
    QTest::keyClick(ui.window, Qt::Key_Tab);
    QTest::keyClick(ui.window, Qt::Key_Tab);
    QCOMPARE(focusedName(ui.window), QStringLiteral("actionButton"));
    QTRY_VERIFY(ringDrawn());

    // A click leaves the focus where it is, but the ring goes.
    ui.click(button);
    QVERIFY(ui.waitForCommand(R"({"cmd":"connect","payload":{"games":false,"whitelist":false}})"));
    QTRY_VERIFY(!ringDrawn());
    QVERIFY(!ringOf(button)->isVisible());

    // Focus given otherwise than by the keyboard draws none either.
    ui.item(QStringLiteral("dial"))->forceActiveFocus(Qt::OtherFocusReason);
    QVERIFY(!ringOf(ui.item(QStringLiteral("dial")))->isVisible());
    QTest::keyClick(ui.window, Qt::Key_Tab);
    QCOMPARE(focusedName(ui.window), QStringLiteral("actionButton"));
    QTRY_VERIFY(ringDrawn());
}

// Enter on Connect disables the button until the daemon is through; the
// keyboard is on it again afterwards, ring and all.
void TestAccessibility::ringReturnsAfterBusy()
{
    UiShell ui;
    QVERIFY(setUp(ui, Setup::Disconnected));
    QTRY_VERIFY(ui.window->isActive());
    QQuickItem *button = ui.item(QStringLiteral("actionButton"));
    QTest::keyClick(ui.window, Qt::Key_Tab);
    QTest::keyClick(ui.window, Qt::Key_Tab);
    QCOMPARE(focusedName(ui.window), QStringLiteral("actionButton"));
    QTest::keyClick(ui.window, Qt::Key_Return);
    QVERIFY(ui.waitForCommand(R"({"cmd":"connect","payload":{"games":false,"whitelist":false}})"));

    QVERIFY(ui.deliver(UiShell::status("connecting")));
    QVERIFY(!button->hasActiveFocus());
    QVERIFY(!ringOf(button)->isVisible());
    QVERIFY(ui.deliver(UiShell::status("connected")));
    QCOMPARE(focusedName(ui.window), QStringLiteral("actionButton"));
    QVERIFY(ringOf(button)->isVisible());
}

KESTRIX_UI_TEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
