#include "app/StartupMark.h"

#include "disks/DiskManager.h"

#include <QEvent>
#include <QWindow>

StartupMark::StartupMark(QWidget *window, DiskManager *disks, QObject *parent)
    : QObject(parent)
    , m_window(window)
{
    // A scan publishes its list, then clears the scanning flag.
    connect(disks, &DiskManager::isScanningChanged, this, [this, disks] {
        if (!disks->isScanning()) {
            m_published = true;
            check();
        }
    });
    // The native window exists only once the widget has been shown.
    window->installEventFilter(this);
    watchWindowHandle();
    check();
}

void StartupMark::watchWindowHandle()
{
    QWindow *handle = m_window ? m_window->windowHandle() : nullptr;
    if (handle == m_handle)
        return;
    if (m_handle)
        m_handle->removeEventFilter(this);
    m_handle = handle;
    if (m_handle)
        m_handle->installEventFilter(this);
}

bool StartupMark::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Show)
        watchWindowHandle();
    // The native window has already taken the new state when its filters see the event.
    if (watched == m_handle && event->type() == QEvent::Expose)
        check();
    return QObject::eventFilter(watched, event);
}

void StartupMark::check()
{
    if (m_reached || !m_published || !m_handle || !m_handle->isExposed())
        return;
    m_reached = true;
    if (m_window)
        m_window->removeEventFilter(this);
    if (m_handle)
        m_handle->removeEventFilter(this);
    Q_EMIT reached();
}
