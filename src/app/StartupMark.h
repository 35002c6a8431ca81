#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <QWindow>

class DiskManager;

// The moment a start-up is over for the person who launched the application: `window` is on
// screen and `disks` has published the result of a finished scan. Emits `reached` once, in
// whichever order the two happen; a window closed before then never reaches it. Build it before
// the event loop runs, so that the first scan's end is seen.
class StartupMark : public QObject {
    Q_OBJECT

public:
    StartupMark(QWidget *window, DiskManager *disks, QObject *parent = nullptr);

    bool isReached() const { return m_reached; }

Q_SIGNALS:
    void reached();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchWindowHandle();
    void check();

    QPointer<QWidget> m_window;
    QPointer<QWindow> m_handle;
    bool m_published = false;
    bool m_reached = false;
};
