#pragma once

#include <QDialog>

class QComboBox;
class QPushButton;
class TPlayChannels;

// Line parameter settings of one play channel at a time. Keeps its texts between uses; the
// answer is Button1Tag: 1 after "确定", 0 after "取消" or any other close.
class TSetChnFrom : public QDialog
{
    Q_OBJECT
public:
    explicit TSetChnFrom(const TPlayChannels &channels, QWidget *parent = nullptr);

    // Before showing: a channel number that is empty or not a number becomes "1", and the line
    // number shows the chosen channel's (empty when there is no such channel).
    void Prepare();
    // The channel number changed: show that channel's line number, or nothing.
    void ChnNoBoxChange();

    QComboBox *ChnNoBox;
    QComboBox *ChnNumberBox;
    QComboBox *ifUseBox;
    QPushButton *Button1;
    QPushButton *Button2;
    int Button1Tag = 0;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void ShowLineNumberOf(int channelNumber);

    const TPlayChannels &Channels;
};
