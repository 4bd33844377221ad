#pragma once

#include <QMessageBox>
#include <QString>

#include <optional>

// A message box that does not block (the links and timers go on, and tests can find it by its
// object name "MessageBox"); it deletes itself when closed.
QMessageBox *OpenMessage(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text);

// The .xlsx file to export to: next when a test has set it (then cleared), else the file chooser
// in the documents folder with suggestedName. Empty when the operator cancels.
QString AskExportFile(QWidget *parent, std::optional<QString> &next, const QString &title, const QString &suggestedName);
