#pragma once

#include <QFrame>

class QLineEdit;
class QPushButton;
class TLogMemo;
class TVarnexCore;

// The message display panel: number to dial, the last check codes sent and received, the CRC
// test button and the traffic memo.
class TWatchPanel : public QFrame
{
    Q_OBJECT
public:
    TWatchPanel(TVarnexCore &core, QWidget *parent = nullptr);

    QLineEdit *DialNumEdit;
    QLineEdit *SndCrcEdit;
    QLineEdit *RecCrcEdit;
    QPushButton *TestCrcBtn;
    TLogMemo *CommMsg = nullptr;

protected:
    void resizeEvent(QResizeEvent *event) override;
};
