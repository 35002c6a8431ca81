#pragma once

#include "ui/toolkit/Surface.h"


#include <functional>

class ToolkitButton;

// The band at the top of the main window: icon, title, a one-line description and the rescan
// button, which shows a spinner and cannot be pressed while a scan runs.
class HeaderView : public Surface {
    Q_OBJECT
public:
    explicit HeaderView(QWidget *parent = nullptr);

    void setScanning(bool scanning);
    // Run once per press of the rescan button.
    void setOnRefresh(std::function<void()> onRefresh) { m_onRefresh = std::move(onRefresh); }

    ToolkitButton *refreshButton() const { return m_refresh; }

private:
    std::function<void()> m_onRefresh;
    ToolkitButton *m_refresh;
};
