#pragma once

#include "ui/toolkit/Style.h"

#include <QWidget>

#include <optional>

// A symbol image by name, tinted with a named colour (the palette's text colour without one).
class SymbolView : public QWidget {
    Q_OBJECT
public:
    SymbolView(const QString &name, int size, std::optional<ColorRef> tint, QWidget *parent = nullptr);

    QString symbolName() const { return m_name; }
    void setSymbol(const QString &name);
    std::optional<ColorRef> tint() const { return m_tint; }
    void setTint(std::optional<ColorRef> tint);
    int symbolSide() const { return m_size; }
    void setSymbolSide(int size);
    void setDimming(qreal factor);

    QSize sizeHint() const override { return {m_size, m_size}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QString m_name;
    int m_size;
    std::optional<ColorRef> m_tint;
    qreal m_dimming = 1.0;
};
