#include "widgets/editable_list.h"

#include <QComboBox>

QComboBox *NewEditableList(const QStringList &items, const QString &text, const QString &objectName,
                           const QString &hint, QWidget *parent)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(objectName);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(items);
    box->setEditText(text);
    box->setToolTip(hint);
    return box;
}
