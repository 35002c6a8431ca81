#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What a test that drives real devices can leave behind in the system: mounts, loop devices,
// open descriptors, unreaped children and processes still holding a device open. Each answers
// from /proc and /sys at the moment of the call.
namespace testsupport {

// Mount points at or below `prefix`, in mount order, as /proc/self/mountinfo lists them
// (octal escapes such as \040 decoded).
QStringList mountPointsUnder(const QString &prefix);

// Mount points whose source device is `device` ("/dev/loop3p1"), in mount order.
QStringList mountPointsOf(const QString &device);

// Loop devices ("/dev/loopN") whose backing file lies at or below `prefix`.
QStringList loopDevicesBackedUnder(const QString &prefix);

// This process's open descriptors as "N -> target", sorted by number.
QStringList openDescriptors();

// Process ids of this process's children that have ended and not been reaped.
QList<int> zombieChildren();

// "PID (command)" of every other process with `path` open.
QStringList processesHolding(const QString &path);

} // namespace testsupport
