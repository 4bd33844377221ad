#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// "无键位分机": how many extensions the keyboard shown has no key for, and every one of them in a
// list the operator can scroll, select and copy. It does not block the windows behind it.
class TKeylessDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TKeylessDialog(QWidget *parent = nullptr);

    static QString SummaryText(int keyboard, int count);
    // keyless: one "number name" line per extension without a key on keyboard.
    void Show(int keyboard, const QStringList &keyless);

    QLabel *Summary;
    QPlainTextEdit *List;
    QPushButton *CloseButton;
};
