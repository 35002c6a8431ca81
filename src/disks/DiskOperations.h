#pragma once

// The disks on which a mount or an unmount is under way in this process. The window's and the
// tray's disk models are independent of each other, but both consult this one list, so that two
// operations never work on the same disk at once: a failed one's clean-up could otherwise take
// down what the other has just made. Main thread only.
#include <QSet>
#include <QString>

class DiskOperations {
public:
    // Holds `deviceNode` for one operation, while it lasts; `isHeld` is false when another
    // operation already held it, and this one must not start.
    class Hold {
    public:
        explicit Hold(QString deviceNode);
        ~Hold();
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;
        bool isHeld() const { return m_held; }

    private:
        QString m_deviceNode;
        bool m_held;
    };

    // Whether an operation is under way on `deviceNode`.
    static bool isUnderWay(const QString &deviceNode);

private:
    static QSet<QString> &underWay();
};
