#pragma once

#include "widgets/answer_dialog.h"

class QComboBox;
class QLineEdit;

// Test-play parameters for a voice notification sent as the platform would. Keeps what the
// operator last entered.
class TInputPlayFrom : public TAnswerDialog
{
    Q_OBJECT
public:
    explicit TInputPlayFrom(QWidget *parent = nullptr);

    QComboBox *PlayTypeBox;
    QComboBox *GroupOrNumberBox;
    QComboBox *PlayTxtTypeBox;
    QComboBox *PlayTimesBox;
    QLineEdit *PlayTxtEdit;
};
