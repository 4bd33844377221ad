#pragma once

#include "settings/comm_settings.h"

#include <QDialog>
#include <QList>

class QComboBox;
class QLabel;
class QPushButton;

// The communication settings of one link, five labelled fields. "确 定" with an empty first
// field keeps the dialog open; Answer() is true only after "确 定".
class Tdialogform : public QDialog
{
    Q_OBJECT
public:
    explicit Tdialogform(QWidget *parent = nullptr);

    void Fill(const TCommSettings::TForm &form);
    QStringList Texts() const;
    bool Answer() const { return Confirmed; }

    QList<QLabel *> Labels;
    QList<QComboBox *> Fields;
    QPushButton *OkButton;
    QPushButton *CancelButton;

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool Confirmed = false;
};
