#pragma once

#include "directory/tel_book.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

// Parameters of a run of extensions or groups: editable drop-downs with their defaults and a
// remark. Answer() is true only after "确定"; the texts stay for the next use.
class TInitRunDialog : public QDialog
{
    Q_OBJECT
public:
    bool Answer() const { return Confirmed; }
    TTelBook::TRun Run() const;

    QComboBox *startNum;
    QComboBox *StartPos;
    QComboBox *ifRepairName;
    QComboBox *group = nullptr;
    QComboBox *status = nullptr;
    QLineEdit *Msg;
    QComboBox *len;
    QPushButton *OkButton;
    QPushButton *CancelButton;

protected:
    TInitRunDialog(bool forGroups, QWidget *parent);
    void showEvent(QShowEvent *event) override;

private:
    bool Confirmed = false;
};

// A run of extensions.
class Tinituserfrm : public TInitRunDialog
{
    Q_OBJECT
public:
    explicit Tinituserfrm(QWidget *parent = nullptr) : TInitRunDialog(false, parent) {}
};

// A run of groups.
class TInitGroupFrom : public TInitRunDialog
{
    Q_OBJECT
public:
    explicit TInitGroupFrom(QWidget *parent = nullptr) : TInitRunDialog(true, parent) {}
};
