#pragma once

#include "settings/comm_settings.h"

#include "widgets/answer_dialog.h"

#include <QList>

class QComboBox;
class QLabel;

// The communication settings of one link, five labelled fields. "确 定" with a field that cannot
// be taken keeps the dialog open, marks that field, puts the cursor in it and says why.
class Tdialogform : public TAnswerDialog
{
    Q_OBJECT
public:
    explicit Tdialogform(QWidget *parent = nullptr);

    void Fill(const TCommSettings::TForm &form);
    QStringList Texts() const;

    // The field marked as not taken, or -1.
    int MarkedRow() const { return Marked; }

    QList<QLabel *> Labels;
    QList<QComboBox *> Fields;
    QLabel *ProblemLabel;

protected:
    bool CanConfirm() override;

private:
    void Mark(int row);

    TCommSettings::TSide Side = TCommSettings::Host;
    int Marked = -1;
};
