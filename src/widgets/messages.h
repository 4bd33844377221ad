#pragma once

#include <QMessageBox>
#include <QString>

#include <optional>

// The width a window needs for the window manager to show title whole in its title bar: the
// text in a bold title-bar font, and room for the window's icon and buttons on either side.
int TitleBarWidth(const QString &title);
// Keeps box at least TitleBarWidth of its title wide: a short text makes a narrow box, and a
// narrow dialog's title is cut to its first character ("提…").
void KeepTitleWhole(QMessageBox *box);

// A message box that does not block (the links and timers go on, and tests can find it by its
// object name "MessageBox"); it deletes itself when closed.
QMessageBox *OpenMessage(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text);

// The .xlsx file to export to: next when a test has set it (then cleared), else the file chooser
// in the documents folder with suggestedName. Empty when the operator cancels.
QString AskExportFile(QWidget *parent, std::optional<QString> &next, const QString &title, const QString &suggestedName);
