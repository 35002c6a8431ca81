#pragma once

#include "disks/NTFSDisk.h"
#include "ui/toolkit/Surface.h"


#include <functional>

class ActivitySpinner;
class ElidedLabel;
class TextLabel;
class ToolkitButton;

// The drive image with its status dot in the bottom-trailing corner.
class DriveIcon : public QWidget {
    Q_OBJECT
public:
    explicit DriveIcon(QWidget *parent = nullptr);

    void setColors(ColorRef icon, ColorRef dot);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    int m_side;
    ColorRef m_icon;
    ColorRef m_dot;
};

// One NTFS partition as a card: drive image with a status dot, name and device badge, size and
// mount state, and at the trailing edge a spinner, an unmount button or a read-write mount
// button. It keeps no state; the main window sets its arguments on every change.
class DiskRowView : public Surface {
    Q_OBJECT
public:
    enum class MountState { Writable, ReadOnly, NotMounted };
    struct Appearance {
        ColorRef icon;
        ColorRef dot;
        QString label;
        ColorRef labelColor;
    };
    // Writable wins over an absent mount point; read-only means mounted but not writable.
    static MountState mountState(const NTFSDisk &disk);
    static Appearance appearance(MountState state);

    // Frame widths of the trailing control.
    static constexpr int kSpinnerFrameWidth = 120;
    static constexpr int kUnmountFrameWidth = 120;
    static constexpr int kMountFrameWidth = 140;

    explicit DiskRowView(QWidget *parent = nullptr);

    void setDisk(const NTFSDisk &disk);
    const NTFSDisk &disk() const { return m_disk; }
    void setOperating(bool operating);
    void setAllDepsInstalled(bool installed);
    void setOnMount(std::function<void()> onMount) { m_onMount = std::move(onMount); }
    void setOnUnmount(std::function<void()> onUnmount) { m_onUnmount = std::move(onUnmount); }

    TextLabel *stateLabel() const { return m_state; }
    ActivitySpinner *spinner() const { return m_spinner; }
    ToolkitButton *unmountButton() const { return m_unmount; }
    ToolkitButton *mountButton() const { return m_mount; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void refresh();

    NTFSDisk m_disk;
    bool m_isOperating = false;
    bool m_isAllDepsInstalled = false;
    std::function<void()> m_onMount;
    std::function<void()> m_onUnmount;

    DriveIcon *m_icon;
    ElidedLabel *m_name;
    TextLabel *m_badge;
    TextLabel *m_size;
    TextLabel *m_state;
    QWidget *m_spinnerFrame;
    ActivitySpinner *m_spinner;
    ToolkitButton *m_unmount;
    ToolkitButton *m_mount;
};
