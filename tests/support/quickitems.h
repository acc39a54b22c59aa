#pragma once

#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

// Reaching and using the items of a loaded QML scene as a user would.

// The first item of the tree below `from` (itself included) with this object name.
inline QQuickItem *findItem(QQuickItem *from, const QString &name)
{
    if (!from)
        return nullptr;
    if (from->objectName() == name)
        return from;
    const QList<QQuickItem *> children = from->childItems();
    for (QQuickItem *child : children)
        if (QQuickItem *found = findItem(child, name))
            return found;
    return nullptr;
}

// The item with this object name below `from`. When there is none, the
// running test fails with the name that was not found and the caller's line,
// and a hidden item that belongs to nothing stands in for it, so the test
// ends on that message rather than on a null pointer.
inline QQuickItem *requireItem(QQuickItem *from, const QString &name,
                               const char *file = __builtin_FILE(), int line = __builtin_LINE())
{
    if (QQuickItem *found = findItem(from, name))
        return found;
    const QString under = !from ? QStringLiteral("nothing")
                          : from->objectName().isEmpty()
                              ? QString::fromLatin1(from->metaObject()->className())
                              : from->objectName();
    QTest::qFail(qPrintable(QStringLiteral("no item named \"%1\" below %2").arg(name, under)), file,
                 line);
    static QQuickItem *const missing = [] {
        auto *item = new QQuickItem;
        item->setObjectName(QStringLiteral("(missing)"));
        item->setVisible(false);
        return item;
    }();
    return missing;
}

// Whether the item and every ancestor are visible (what the user sees).
inline bool shown(const QQuickItem *item)
{
    return item && item->isVisible();
}

// A left click in the middle of the item, delivered to its window. A missing
// or detached item fails the running test at the caller's line; nothing is
// clicked then.
inline void clickItem(QQuickWindow *window, QQuickItem *target, const char *file = __builtin_FILE(),
                      int line = __builtin_LINE())
{
    if (!target || target->window() != window) {
        QTest::qFail(
            qPrintable(QStringLiteral("cannot click %1: not in this window")
                           .arg(target ? target->objectName() : QStringLiteral("nothing"))),
            file, line);
        return;
    }
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}
