#include "app/WindowScene.h"

#include <QVBoxLayout>

namespace {

// The size the window opens at; the content's own minimum still applies.
constexpr QSize kInitialSize(600, 560);

} // namespace

WindowScene::WindowScene(QString identifier, QString title, ContentFactory makeContent, QObject *parent)
    : QObject(parent)
    , m_identifier(std::move(identifier))
    , m_title(std::move(title))
    , m_makeContent(std::move(makeContent))
{
}

WindowScene::~WindowScene()
{
    delete m_window;
}

QWidget *WindowScene::open()
{
    QWidget *window = m_window ? m_window.data() : create();
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    return window;
}

QWidget *WindowScene::create()
{
    auto *window = new QWidget;
    window->setObjectName(m_identifier);
    window->setWindowTitle(m_title);
    window->setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_makeContent());
    window->resize(window->sizeHint().expandedTo(kInitialSize));
    m_window = window;
    return window;
}
