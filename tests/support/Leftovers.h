#pragma once

#include <QStringList>

// What a test that drives real devices can leave behind in its own process besides mounts and
// loop devices, as /proc tells at the moment of the call.
namespace testsupport {

// This process's open descriptors, "N -> target".
QStringList openDescriptors();

// Whether a child of this process has ended and not been reaped.
bool hasUnreapedChild();

} // namespace testsupport
