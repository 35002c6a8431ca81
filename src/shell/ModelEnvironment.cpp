#include "shell/ModelEnvironment.h"

#include "shell/HelperShell.h"

#include <QDBusConnectionInterface>

ModelEnvironment ModelEnvironment::host()
{
    const Platform platform = Platform::host();
    ModelEnvironment environment{platform, std::make_shared<HelperShell>(platform),
                                 std::make_shared<SystemFileProbe>(), std::nullopt};
    if (!platform.diskService.isEmpty())
        environment.diskServiceBus = diskServiceOn(QDBusConnection::systemBus(), platform.diskService);
    return environment;
}

std::optional<QDBusConnection> ModelEnvironment::diskServiceOn(const QDBusConnection &bus, const QString &service)
{
    if (!bus.isConnected())
        return std::nullopt;
    QDBusConnectionInterface *daemon = bus.interface();
    if (daemon->isServiceRegistered(service) || daemon->activatableServiceNames().value().contains(service))
        return bus;
    return std::nullopt;
}
