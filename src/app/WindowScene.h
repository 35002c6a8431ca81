#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

// A single-instance top-level window: opening it creates the window with fresh content when it
// is closed and brings it forward when it is open, never a second one. Closing it destroys the
// window and its content.
class WindowScene : public QObject {
    Q_OBJECT

public:
    using ContentFactory = std::function<QWidget *()>;

    WindowScene(QString identifier, QString title, ContentFactory makeContent, QObject *parent = nullptr);
    ~WindowScene() override;

    QString identifier() const { return m_identifier; }
    // The open window, or nothing.
    QWidget *window() const { return m_window; }

    // Shows the window (created with new content when closed) and raises it. Returns it.
    QWidget *open();

private:
    QWidget *create();

    QString m_identifier;
    QString m_title;
    ContentFactory m_makeContent;
    QPointer<QWidget> m_window;
};
