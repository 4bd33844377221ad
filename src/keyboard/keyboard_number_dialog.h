#pragma once

#include <QDialog>

class QComboBox;
class QPushButton;

// Asks which keyboard to show. "确 定" with an empty field keeps it open; Answer() is true
// only after "确 定".
class Teditfrom : public QDialog
{
    Q_OBJECT
public:
    explicit Teditfrom(QWidget *parent = nullptr);

    bool Answer() const { return Confirmed; }

    QComboBox *KeyboardBox;
    QPushButton *OkButton;
    QPushButton *CancelButton;

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool Confirmed = false;
};
