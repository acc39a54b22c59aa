#include "settings/stringtable.h"

#include "testmain.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// Every text the interface reads from the string table by a fixed key must
// exist in both languages: a misspelt key shows as "undefined" on screen and
// in no warning at all.
class TestStringKeys : public QObject
{
    Q_OBJECT

private slots:
    void scannerFindsEveryForm();
    void keysReadByTheInterfaceExist_data();
    void keysReadByTheInterfaceExist();
};

namespace {

struct Use
{
    QString key;
    int line = 0;
};

// The texts read as appSettings.t.key or appSettings.t["key"]; a key the
// code computes cannot be checked here and is reported as such.
QList<Use> usesIn(const QString &path, QStringList *unchecked)
{
    static const QRegularExpression read(
        QStringLiteral(R"(\bappSettings\.t(?:\.(\w+)|\[\s*["'](\w+)["']\s*\]|(\s*\[))?)"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QList<Use> uses;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QRegularExpressionMatchIterator it = read.globalMatch(lines.at(i));
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            const QString key = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
            if (!key.isEmpty())
                uses.append({key, int(i + 1)});
            else if (!m.captured(3).isEmpty())
                *unchecked << QStringLiteral("%1:%2").arg(QFileInfo(path).fileName()).arg(i + 1);
        }
    }
    return uses;
}

} // namespace

// The check is only as good as the scan: both ways of reading a text, several
// on a line, and a computed key, which is reported.
void TestStringKeys::scannerFindsEveryForm()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Sample.qml"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("Text { text: appSettings.t.signIn }\n"
               "Text { text: ok ? appSettings.t[\"quit\"] : appSettings.t.cancl }\n"
               "Text { text: appSettings.t[name] }\n");
    file.close();
    QStringList unchecked;
    QStringList keys;
    for (const Use &use : usesIn(path, &unchecked))
        keys << use.key + u'@' + QString::number(use.line);
    QCOMPARE(keys, (QStringList{"signIn@1", "quit@2", "cancl@2"}));
    QCOMPARE(unchecked, QStringList{"Sample.qml:3"});
}

void TestStringKeys::keysReadByTheInterfaceExist_data()
{
    QTest::addColumn<QString>("path");
    QDirIterator files(QStringLiteral(KESTRIX_QML_DIR),
                       {QStringLiteral("*.qml"), QStringLiteral("*.js")}, QDir::Files,
                       QDirIterator::Subdirectories);
    QStringList paths;
    while (files.hasNext())
        paths << files.next();
    paths.sort();
    QVERIFY2(paths.size() > 5, qPrintable(QStringLiteral("QML files not found in ") +
                                          QStringLiteral(KESTRIX_QML_DIR)));
    for (const QString &path : std::as_const(paths))
        QTest::newRow(qPrintable(QDir(QStringLiteral(KESTRIX_QML_DIR)).relativeFilePath(path)))
            << path;
}

void TestStringKeys::keysReadByTheInterfaceExist()
{
    QFETCH(QString, path);
    QStringList unchecked;
    const QList<Use> uses = usesIn(path, &unchecked);
    QVERIFY2(unchecked.isEmpty(), qPrintable(QStringLiteral("a computed key cannot be checked: ") +
                                             unchecked.join(QStringLiteral(", "))));

    QStringList missing;
    for (const Use &use : uses) {
        for (const auto &[language, table] :
             {std::pair{"en", &StringTable::english()}, std::pair{"ru", &StringTable::russian()}}) {
            if (!table->contains(use.key))
                missing << QStringLiteral("%1 (line %2, %3)")
                               .arg(use.key)
                               .arg(use.line)
                               .arg(QLatin1String(language));
        }
    }
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("not in the string table: ") +
                                           missing.join(QStringLiteral(", "))));
}

KESTRIX_TEST_GUILESS_MAIN(TestStringKeys)
#include "tst_stringkeys.moc"
