#pragma once

#include <QString>
#include <QStringList>

class QComboBox;
class QWidget;

// A drop-down whose text may also be typed, as the settings dialogs use them.
QComboBox *NewEditableList(const QStringList &items, const QString &text, const QString &objectName,
                           const QString &hint, QWidget *parent);
