#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

// Test-play parameters for a voice notification sent as the platform would. Keeps what the
// operator last entered; Answer() is true only after "确定".
class TInputPlayFrom : public QDialog
{
    Q_OBJECT
public:
    explicit TInputPlayFrom(QWidget *parent = nullptr);

    bool Answer() const { return Confirmed; }

    QComboBox *PlayTypeBox;
    QComboBox *GroupOrNumberBox;
    QComboBox *PlayTxtTypeBox;
    QComboBox *PlayTimesBox;
    QLineEdit *PlayTxtEdit;
    QPushButton *OkButton;
    QPushButton *CancelButton;

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool Confirmed = false;
};
