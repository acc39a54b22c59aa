#include "keyboardfocus.h"

#include <QFocusEvent>
#include <QKeyEvent>

KeyboardFocus::KeyboardFocus(QObject *parent) : QObject(parent) {}

void KeyboardFocus::componentComplete()
{
    if (!m_itemSet)
        setItem(qobject_cast<QQuickItem *>(parent()));
}

void KeyboardFocus::setItem(QQuickItem *item)
{
    m_itemSet = true;
    if (item == m_item)
        return;
    if (m_item) {
        m_item->removeEventFilter(this);
        disconnect(m_item, nullptr, this, nullptr);
    }
    m_item = item;
    setKeyboardReason(false);
    if (m_item) {
        m_item->installEventFilter(this);
        connect(m_item, &QQuickItem::windowChanged, this, &KeyboardFocus::watchWindow);
        connect(m_item, &QQuickItem::activeFocusChanged, this,
                [this] { setKeyboardReason(m_keyboardReason); });
    }
    watchWindow(m_item ? m_item->window() : nullptr);
    emit itemChanged();
}

// Clicks anywhere in the window end the keyboard's ring.
void KeyboardFocus::watchWindow(QQuickWindow *window)
{
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    if (m_window)
        m_window->installEventFilter(this);
}

void KeyboardFocus::setKeyboardReason(bool keyboard)
{
    m_keyboardReason = keyboard;
    const bool visible = keyboard && m_item && m_item->hasActiveFocus();
    if (visible == m_ringVisible)
        return;
    m_ringVisible = visible;
    emit ringVisibleChanged();
}

bool KeyboardFocus::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::TouchBegin:
            m_disabledWhileFocused = false;
            setKeyboardReason(false);
            break;
        default:
            break;
        }
        return false;
    }
    if (watched != m_item)
        return false;
    switch (event->type()) {
    case QEvent::FocusIn:
        switch (static_cast<QFocusEvent *>(event)->reason()) {
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
            setKeyboardReason(true);
            break;
        case Qt::ActiveWindowFocusReason:
        case Qt::PopupFocusReason:
            // Coming back to the window keeps what the focus was.
            setKeyboardReason(m_keyboardReason);
            break;
        default:
            setKeyboardReason(m_disabledWhileFocused);
            break;
        }
        m_disabledWhileFocused = false;
        return false;
    case QEvent::FocusOut:
        switch (static_cast<QFocusEvent *>(event)->reason()) {
        case Qt::ActiveWindowFocusReason:
        case Qt::PopupFocusReason:
            break;
        default:
            // A control disabled for a while (a button during "connecting")
            // gets the focus back by itself when enabled: with its ring.
            m_disabledWhileFocused = !m_item->isEnabled() && m_keyboardReason;
            setKeyboardReason(m_disabledWhileFocused);
            break;
        }
        return false;
    case QEvent::KeyPress:
        return handleKey(static_cast<QKeyEvent *>(event));
    default:
        return false;
    }
}

bool KeyboardFocus::handleKey(QKeyEvent *event)
{
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Holding the key down acts once.
        if (!event->isAutoRepeat() && m_item->isEnabled())
            emit activated();
        event->accept();
        return true;
    case Qt::Key_Left:
    case Qt::Key_Up:
        return m_arrows && moveToSibling(false);
    case Qt::Key_Right:
    case Qt::Key_Down:
        return m_arrows && moveToSibling(true);
    default:
        return false;
    }
}

bool KeyboardFocus::moveToSibling(bool forward)
{
    QQuickItem *parent = m_item->parentItem();
    if (!parent)
        return false;
    const QList<QQuickItem *> siblings = parent->childItems();
    const qsizetype from = siblings.indexOf(m_item);
    for (qsizetype i = from + (forward ? 1 : -1); i >= 0 && i < siblings.size();
         i += forward ? 1 : -1) {
        QQuickItem *candidate = siblings.at(i);
        if (candidate->activeFocusOnTab() && candidate->isVisible() && candidate->isEnabled()) {
            candidate->forceActiveFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    // The ends do not wrap: the key is used all the same.
    return true;
}
