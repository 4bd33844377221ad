#pragma once

#include "widgets/answer_dialog.h"

class QLabel;

// The shared yes/no question. "是" is the default and has the focus, unless the question asks
// for "否" (a question whose yes overwrites rows); Esc, "否" and the close box all answer no.
class TExitForm : public TAnswerDialog
{
    Q_OBJECT
public:
    explicit TExitForm(QWidget *parent = nullptr);

    // Shows the question modally, 130 pixels from the top of the screen, and returns the answer.
    bool Ask(const QString &question, bool yesByDefault = true);

    QLabel *Label;
    QPushButton *YesButton; // the confirming button
    QPushButton *NoButton;  // the cancelling button

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool YesByDefault = true;
};
