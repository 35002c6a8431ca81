#include "shell/ModelEnvironment.h"

#include "shell/HelperShell.h"

ModelEnvironment ModelEnvironment::host()
{
    const Platform platform = Platform::host();
    return {platform, std::make_shared<HelperShell>(platform), std::make_shared<SystemFileProbe>()};
}
