#pragma once

#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml/qqmlregistration.h>

// The keyboard side of one drawn control (its parent item unless `item` says
// otherwise): Space, Enter and Return emit activated(); with
// arrowsMoveBetweenSiblings, the arrow keys move the focus to the previous or
// next sibling that takes the focus from Tab. ringVisible tells whether the
// control holds the focus because of the keyboard (Tab, Shift+Tab, a shortcut
// or an arrow key): a focus that a click or the window's showing gave it
// draws no ring, and any click in the window takes the ring away.
class KeyboardFocus : public QObject, public QQmlParserStatus
{
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    Q_PROPERTY(QQuickItem *item READ item WRITE setItem NOTIFY itemChanged)
    Q_PROPERTY(bool ringVisible READ ringVisible NOTIFY ringVisibleChanged)
    Q_PROPERTY(
        bool arrowsMoveBetweenSiblings MEMBER m_arrows NOTIFY arrowsMoveBetweenSiblingsChanged)
    QML_ELEMENT

public:
    explicit KeyboardFocus(QObject *parent = nullptr);

    QQuickItem *item() const { return m_item; }
    void setItem(QQuickItem *item);
    bool ringVisible() const { return m_ringVisible; }

    void classBegin() override {}
    void componentComplete() override;

signals:
    void itemChanged();
    void ringVisibleChanged();
    void arrowsMoveBetweenSiblingsChanged();
    void activated();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchWindow(QQuickWindow *window);
    void setKeyboardReason(bool keyboard);
    bool handleKey(QKeyEvent *event);
    bool moveToSibling(bool forward);

    QPointer<QQuickItem> m_item;
    QPointer<QQuickWindow> m_window;
    bool m_keyboardReason = false;
    bool m_disabledWhileFocused = false;
    bool m_ringVisible = false;
    bool m_arrows = false;
    bool m_itemSet = false;
};
