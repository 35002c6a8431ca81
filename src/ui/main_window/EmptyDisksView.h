#pragma once

#include "ui/toolkit/ToolkitButton.h"

#include <QWidget>

#include <functional>

// Stands in for the disk list when no NTFS partition was found, with a button to look again.
class EmptyDisksView : public QWidget {
    Q_OBJECT
public:
    explicit EmptyDisksView(QWidget *parent = nullptr);

    // Run once per press of "再検出".
    void setOnRefresh(std::function<void()> onRefresh) { m_onRefresh = std::move(onRefresh); }

    ToolkitButton *refreshButton() const { return m_refresh; }

private:
    std::function<void()> m_onRefresh;
    ToolkitButton *m_refresh;
};
