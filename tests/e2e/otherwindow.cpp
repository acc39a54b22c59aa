#include <QApplication>
#include <QWidget>

// Another application's window for the end-to-end tests: clicking it moves
// the focus away from Kestrix, as clicking any other program does.
// Usage: e2e_otherwindow X Y WIDTH HEIGHT
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 5)
        return 2;
    QWidget window;
    window.setWindowTitle(QStringLiteral("Elsewhere"));
    window.setGeometry(args.at(1).toInt(), args.at(2).toInt(), args.at(3).toInt(),
                       args.at(4).toInt());
    window.setStyleSheet(QStringLiteral("background: #6b2fbf;"));
    window.show();
    return app.exec();
}
