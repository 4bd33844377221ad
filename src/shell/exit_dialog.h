#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The shared yes/no question. "是" is the default and has the focus; Esc, "否" and the close
// box all answer no.
class TExitForm : public QDialog
{
    Q_OBJECT
public:
    explicit TExitForm(QWidget *parent = nullptr);

    // Shows the question modally, 130 pixels from the top of the screen, and returns the answer.
    bool Ask(const QString &question);
    bool Answer() const { return Answered; }

    QLabel *Label;
    QPushButton *YesButton;
    QPushButton *NoButton;

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool Answered = false;
};
