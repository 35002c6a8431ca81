#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What a test that drives real devices can leave behind in the process and the system besides
// mounts and loop devices: open descriptors, unreaped children and processes still holding a
// device open. Each answers from /proc at the moment of the call.
namespace testsupport {

// This process's open descriptors as "N -> target", sorted by number.
QStringList openDescriptors();

// Process ids of this process's children that have ended and not been reaped.
QList<int> zombieChildren();

// "PID (command)" of every other process with `path` open.
QStringList processesHolding(const QString &path);

// Whether process `pid` has ended and been reaped (or never was): what tells the leftovers of
// a killed run, named after its pid, from those of a run still going.
bool processGone(qint64 pid);

} // namespace testsupport
