#pragma once

#include <QWidget>

class SymbolView;

// One tool's name with a green check when it is present or a red cross when it is not.
class StatusIndicator : public QWidget {
    Q_OBJECT
public:
    StatusIndicator(const QString &title, bool isOk, QWidget *parent = nullptr);

    void setOk(bool isOk);

private:
    SymbolView *m_symbol;
};
