#pragma once

#include <QGroupBox>

class QLabel;
class QPushButton;
class TLogMemo;
class TPlayChannels;

// One play channel's box on the channel area: its state bar, labels and the two memos.
class TChannelBox : public QGroupBox
{
    Q_OBJECT
public:
    TChannelBox(TPlayChannels &channels, int channel, QWidget *parent = nullptr);

    QLabel *StatusPanel;
    QLabel *CallerLabel;
    QLabel *StartTimeLabel;
    QLabel *CallTypeLabel;
    QLabel *PlayCountLabel;
    QLabel *TotalLabel;
    QLabel *RingLabel;
    QLabel *OffHookLabel;
    QLabel *HungUpLabel;
    QLabel *QueueLabel = nullptr;
    QPushButton *DetailButton;
    TLogMemo *TextMemo;
    TLogMemo *NumberMemo;

private:
    void ShowDisplay();
    void ShowDetails();

    TPlayChannels &Channels;
    const int Channel;
};
