#include "app/SingleInstance.h"

#include "shell/Log.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QVariantList>
#include <QVariantMap>

namespace {

const char *const kInterface = "org.freedesktop.Application";
// How long a second start waits for the running instance to answer before it starts anyway: long
// enough for one that is itself still starting, short enough not to look hung.
constexpr int kAnswerTimeoutMs = 5000;

// The identifier with its dots as slashes; a dash, which a path may not hold, as an underscore.
QString objectPath(QString id)
{
    return QLatin1Char('/') + id.replace(QLatin1Char('.'), QLatin1Char('/')).replace(QLatin1Char('-'), QLatin1Char('_'));
}

// org.freedesktop.Application as the bus sees it. The application has no actions of its own.
class ApplicationInterface : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit ApplicationInterface(SingleInstance *instance)
        : QObject(instance)
        , m_instance(instance)
    {
    }

public Q_SLOTS:
    void Activate(const QVariantMap &) { Q_EMIT m_instance->activationRequested(); }
    void Open(const QStringList &, const QVariantMap &) { Q_EMIT m_instance->activationRequested(); }
    void ActivateAction(const QString &name, const QVariantList &, const QVariantMap &)
    {
        sendErrorReply(QDBusError::NotSupported, QStringLiteral("No action named ") + name);
    }

private:
    SingleInstance *m_instance;
};

} // namespace

SingleInstance::SingleInstance(QString applicationId, QObject *parent)
    : QObject(parent)
    , m_id(std::move(applicationId))
{
}

SingleInstance::Start SingleInstance::claim()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return Start::Alone;
    // The object before the name, so that a call sent the moment the name is ours finds it.
    const QString path = objectPath(m_id);
    bus.registerObject(path, new ApplicationInterface(this), QDBusConnection::ExportAllSlots);
    if (bus.registerService(m_id))
        return Start::First;
    bus.unregisterObject(path);

    QDBusMessage activate = QDBusMessage::createMethodCall(m_id, path, QLatin1String(kInterface), QStringLiteral("Activate"));
    activate << QVariantMap();
    // Only the running owner: the bus must not start another instance for this call.
    activate.setAutoStartService(false);
    const QDBusMessage reply = bus.call(activate, QDBus::Block, kAnswerTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return Start::HandedOver;
    writeLogLine(QStringLiteral("Another instance owns %1 but did not answer (%2); starting anyway.")
                     .arg(m_id, reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage()));
    return Start::Alone;
}

#include "SingleInstance.moc"
