#pragma once

// The main window's scripted Mac serves the application's models too; these are the disk
// records it is given here.
#include "main_window/ScriptedMachine.h"

using mainwindow::ScriptedMachine;

inline NTFSDisk disk(const QString &node, const QString &name, bool mounted = true, bool writable = false)
{
    return {node, name, 64000000000, mounted ? std::optional("/Volumes/" + name) : std::nullopt, writable, "ntfs"};
}
inline NTFSDisk readOnlyDisk(const QString &node, const QString &name) { return disk(node, name); }
inline NTFSDisk writableDisk(const QString &node, const QString &name) { return disk(node, name, true, true); }
inline NTFSDisk unmountedDisk(const QString &node, const QString &name) { return disk(node, name, false); }
