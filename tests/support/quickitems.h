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

// Whether the item and every ancestor are visible (what the user sees).
inline bool shown(const QQuickItem *item)
{
    return item && item->isVisible();
}

// A left click in the middle of the item, delivered to its window.
inline void clickItem(QQuickWindow *window, QQuickItem *target)
{
    QVERIFY(target);
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}
