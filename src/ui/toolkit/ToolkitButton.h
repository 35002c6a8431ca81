#pragma once

#include "ui/toolkit/ElidedLabel.h"
#include "ui/toolkit/Style.h"

#include <QAbstractButton>

#include <optional>

class ActivitySpinner;
class QHBoxLayout;
class SymbolView;

// A push button in one of the toolkit's styles. Its label is a row of an optional symbol (or a
// spinner in the symbol's place) and a text.
class ToolkitButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Style {
        Bordered,  // a pale bezel, tinted when a tint is set
        Prominent, // filled with the tint, white label
        Link,      // the label alone, in the link colour
    };

    explicit ToolkitButton(Style style, QWidget *parent = nullptr);

    Style style() const { return m_style; }
    void setTitle(const QString &text);
    void setSymbol(const QString &name); // empty: none
    QString symbolName() const;
    // The spinner takes the symbol's place while this is true.
    void setShowsSpinner(bool shows);
    bool showsSpinner() const { return m_showsSpinner; }
    ActivitySpinner *spinner() const { return m_spinner; }
    void setLabelSpacing(int spacing);
    void setTint(std::optional<ColorRef> tint);
    std::optional<ColorRef> tint() const { return m_tint; }
    // The label's colour; by default white on a prominent button, the tint on a bordered one
    // (the palette's text colour without a tint) and blue on a link.
    void setLabelColor(std::optional<ColorRef> color);
    std::optional<ColorRef> labelColor() const;
    void setLabelFont(Toolkit::TextStyle style, std::optional<Toolkit::Weight> weight = std::nullopt);
    TextLabel *titleLabel() const { return m_title; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void restyle();
    void updateLabelParts();

    Style m_style;
    std::optional<ColorRef> m_tint;
    std::optional<ColorRef> m_labelColor;
    bool m_showsSpinner = false;
    bool m_keyboardFocus = false;
    bool m_hovered = false;
    QHBoxLayout *m_layout;
    SymbolView *m_symbol;
    ActivitySpinner *m_spinner;
    ElidedLabel *m_title;
};
