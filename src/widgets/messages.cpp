#include "widgets/messages.h"

#include <QFileDialog>
#include <QStandardPaths>

QMessageBox *OpenMessage(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    auto *box = new QMessageBox(icon, title, text, QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("MessageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return box;
}

QString AskExportFile(QWidget *parent, std::optional<QString> &next, const QString &title, const QString &suggestedName)
{
    QString path;
    if (next) {
        path = *next;
        next.reset();
    } else {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        path = QFileDialog::getSaveFileName(parent, title, folder + QLatin1Char('/') + suggestedName,
                                            QStringLiteral("Excel (*.xlsx)"));
    }
    return path;
}
