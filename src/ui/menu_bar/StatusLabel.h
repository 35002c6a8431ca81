#pragma once

#include "disks/NTFSDisk.h"

#include <QIcon>
#include <QList>
#include <QString>

// The label of the tray item: the "opticaldiscdrive" symbol, followed by the number of writable
// disks when there is at least one.
struct StatusLabel {
    QString symbolName = QStringLiteral("opticaldiscdrive");
    int writableCount = 0;

    static StatusLabel forDisks(const QList<NTFSDisk> &disks);

    // The count as shown: empty when no disk is writable.
    QString countText() const;
    QString toolTip() const;
    // The symbol, with the count drawn in a small badge at its lower right. Drawn at whatever
    // size the tray asks for.
    QIcon icon() const;

    friend bool operator==(const StatusLabel &, const StatusLabel &) = default;
};
