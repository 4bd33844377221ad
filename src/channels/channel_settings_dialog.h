#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class TPlayChannels;

// Line parameter settings of one play channel at a time. Keeps its texts between uses; the
// answer is Button1Tag: 1 after "确定", 0 after "取消" or any other close. "确定" with a number
// that names no channel keeps the dialog open, says why and keeps what was typed.
class TSetChnFrom : public QDialog
{
    Q_OBJECT
public:
    explicit TSetChnFrom(const TPlayChannels &channels, QWidget *parent = nullptr);

    // Before showing: a channel number that names no channel becomes "1", and the line number
    // and enabled state show the chosen channel's.
    void Prepare();
    // The channel number changed: show that channel's line number and state, or no line number.
    void ChnNoBoxChange();

    QComboBox *ChnNoBox;
    QComboBox *ChnNumberBox;
    QComboBox *ifUseBox;
    QComboBox *SpeakBox; // 播报文字内容
    QPushButton *Button1;
    QPushButton *Button2;
    QLabel *ProblemLabel;
    int Button1Tag = 0;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void ShowChannel(int channelNumber);
    void Confirm();

    const TPlayChannels &Channels;
};
