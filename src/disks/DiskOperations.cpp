#include "disks/DiskOperations.h"

#include <utility>

QSet<QString> &DiskOperations::underWay()
{
    static QSet<QString> nodes;
    return nodes;
}

bool DiskOperations::isUnderWay(const QString &deviceNode)
{
    return underWay().contains(deviceNode);
}

DiskOperations::Hold::Hold(QString deviceNode)
    : m_deviceNode(std::move(deviceNode))
    , m_held(!underWay().contains(m_deviceNode))
{
    if (m_held)
        underWay().insert(m_deviceNode);
}

DiskOperations::Hold::~Hold()
{
    if (m_held)
        underWay().remove(m_deviceNode);
}
