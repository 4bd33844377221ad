#pragma once

#include "settings/comm_settings.h"

#include "widgets/answer_dialog.h"

#include <QList>

class QComboBox;
class QLabel;

// The communication settings of one link, five labelled fields. "确 定" with an empty first
// field keeps the dialog open.
class Tdialogform : public TAnswerDialog
{
    Q_OBJECT
public:
    explicit Tdialogform(QWidget *parent = nullptr);

    void Fill(const TCommSettings::TForm &form);
    QStringList Texts() const;

    QList<QLabel *> Labels;
    QList<QComboBox *> Fields;

protected:
    bool CanConfirm() const override;
};
