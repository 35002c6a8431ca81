#pragma once

#include "ui/toolkit/SymbolView.h"
#include "ui/toolkit/TextLabel.h"

#include <QWidget>

// One tool's name with a green check when it is present or a red cross when it is not.
class StatusIndicator : public QWidget {
    Q_OBJECT
public:
    StatusIndicator(const QString &title, bool isOk, QWidget *parent = nullptr);

    QString title() const { return m_title->text(); }
    void setOk(bool isOk);
    bool isOk() const { return m_isOk; }
    SymbolView *symbol() const { return m_symbol; }
    TextLabel *titleLabel() const { return m_title; }

private:
    bool m_isOk = false;
    SymbolView *m_symbol;
    TextLabel *m_title;
};
