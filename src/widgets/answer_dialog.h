#pragma once

#include <QDialog>

class QHBoxLayout;
class QPushButton;

// A dialog that records how it was closed: Answer() is true only after its confirming button,
// and false after the cancelling one, Esc or the close box. The flag starts false at each showing.
class TAnswerDialog : public QDialog
{
    Q_OBJECT
public:
    bool Answer() const { return Confirmed; }

    QPushButton *OkButton;
    QPushButton *CancelButton;

protected:
    TAnswerDialog(const QString &okCaption, const QString &cancelCaption, QWidget *parent = nullptr,
                  Qt::WindowFlags flags = {});
    // The two buttons, centred, for the subclass's layout.
    QHBoxLayout *ButtonRow();
    // Whether the confirming button may close the dialog now (for example, a field is filled).
    virtual bool CanConfirm() { return true; }
    void showEvent(QShowEvent *event) override;

private:
    bool Confirmed = false;
};
