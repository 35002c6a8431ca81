#pragma once

#include "ui/toolkit/Surface.h"

// A one-pixel horizontal divider line: a surface filled with its colour.
class Divider : public Surface {
    Q_OBJECT
public:
    explicit Divider(ColorRef color, QWidget *parent = nullptr);
    ColorRef color() const { return *fill(); }
};
