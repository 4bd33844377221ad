#pragma once

#include <QString>
#include <QStringList>

// What the program was asked to do on its command line.
struct TCommandLine
{
    bool Headless = false;
    bool Traffic = false;   // headless: traffic lines too
    bool Verbose = false;   // without windows: Qt's and the media system's own messages too
    QString DataDir;        // --data-dir
    QString Label;          // import: the label of this import (default: today's date)
    QString Command;        // empty (run), "import", "export" or "check-keys"
    QString File;           // import / export
    // Set when the program should only print this and end with ExitCode (help, version, errors).
    QString Say;
    int ExitCode = 0;
    bool Done = false;

    static TCommandLine Parse(const QStringList &arguments);
    // The arguments without Qt's own options (-platform offscreen, -style=fusion, -reverse …),
    // which QApplication takes from the same command line.
    static QStringList WithoutQtOptions(const QStringList &arguments);
};
