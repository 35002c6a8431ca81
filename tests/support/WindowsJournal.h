#pragma once

// The journal ($LogFile) of an NTFS volume as Windows leaves it, written over the empty one mkntfs
// makes: its first restart page.
#include "StandinHarness.h"

#include <QFile>

#include <string>

#include <gtest/gtest.h>

enum class Journal {
    Closed, // by a full shutdown
    Open,   // by a crash or a shutdown with Fast Startup: ntfs-3g then mounts only read-only
};

inline void writeJournal(const std::string &device, Journal state)
{
    // Where the journal (inode 2) starts: its first cluster times the cluster size.
    const std::string at = standins::testing::sh(
        "echo $(( $(ntfsinfo -f -m " + device + " 2>/dev/null | awk '/Cluster Size:/ {print $3}') * $(ntfsinfo -f -i 2 -v "
        + device + " 2>/dev/null | awk '/Runlist:/ {getline; print $2; exit}') ))").standardOutput;
    // "RSTR", the update sequence array at 0x1e for 8 sectors, 4 KiB pages, the restart area at
    // 0x30, version 1.1, or 2.0 (metadata kept in Windows's cache), update sequence number 1. The
    // area: one client, none free, client 0 in use, marked clean or not, the sequence-number bits
    // for the 2 MiB file it names, its length, and its client array at 0x30, whose client has no
    // neighbours. Every sector ends in the update sequence number.
    const bool open = state == Journal::Open;
    QByteArray page = QByteArray::fromHex(QByteArray("52535452 1e00 0900 0000000000000000 00100000 00100000 3000")
                                          + (open ? "0000 0200" : "0100 0100") + "0100" + QByteArray(48, '0')
                                          + "0100 ffff 0000" + (open ? "0000" : "0200") + "2d000000 d000 3000 0000200000000000"
                                          + QByteArray(64, '0') + "ffff ffff");
    page += QByteArray(4096 - page.size(), 0);
    for (qsizetype end = 510; end < page.size(); end += 512)
        page[end] = 1;
    QFile file(QString::fromStdString(device));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.seek(std::stoll(at)) && file.write(page) == page.size());
}
