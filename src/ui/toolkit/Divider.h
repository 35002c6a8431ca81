#pragma once

#include "ui/toolkit/Style.h"

#include <QWidget>

// A one-pixel horizontal divider line.
class Divider : public QWidget {
    Q_OBJECT
public:
    explicit Divider(ColorRef color, QWidget *parent = nullptr);
    ColorRef color() const { return m_color; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    ColorRef m_color;
};
