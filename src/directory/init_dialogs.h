#pragma once

#include "directory/tel_book.h"

#include "widgets/answer_dialog.h"

class QComboBox;
class QLineEdit;

// Parameters of a run of extensions or groups: editable drop-downs with their defaults and a
// remark. The texts stay for the next use.
class TInitRunDialog : public TAnswerDialog
{
    Q_OBJECT
public:
    TTelBook::TRun Run() const;

    QComboBox *startNum;
    QComboBox *StartPos;
    QComboBox *ifRepairName;
    QComboBox *group = nullptr;
    QComboBox *status = nullptr;
    QLineEdit *Msg;
    QComboBox *len;

protected:
    TInitRunDialog(bool forGroups, QWidget *parent);
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
