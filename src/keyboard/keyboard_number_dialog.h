#pragma once

#include "widgets/answer_dialog.h"

class QComboBox;

// Asks which keyboard to show. "确 定" with an empty field keeps it open.
class Teditfrom : public TAnswerDialog
{
    Q_OBJECT
public:
    explicit Teditfrom(QWidget *parent = nullptr);

    QComboBox *KeyboardBox;

protected:
    bool CanConfirm() override;
};
