// The installed stand-ins' paths: the system's own, whoever runs them and whatever their
// environment says.
#include "BlockDevices.h"

standins::SystemPaths standins::systemPaths()
{
    return {};
}
