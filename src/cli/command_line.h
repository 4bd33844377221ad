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
    QString Database;       // --database: the directory and history on a server (empty: the files)
    bool DatabaseGiven = false; // --database given, even empty: the settings file's DatabaseUrl is not used
    QString Label;          // import: the label of this import (default: today's date)
    bool Force = false;     // export: replace an existing file
    QString Command;        // empty (run), "import", "export", "check-keys", "groups", "migrate", "ctl" or "web"
    QStringList CtlWords;   // ctl: status | check | role ROLE
    QString Cause;          // ctl role --cause: why, for the history
    QString Control;        // --control: the control socket (run, ctl and web)
    QString MigrateTo;      // migrate --to URL: from the files to this server
    QString MigrateFrom;    // migrate --from URL --to-files: from this server to the files
    bool Append = false;    // migrate: into a target that holds rows already
    QString File;           // import / export
    int GroupsFrom = 0;     // groups init: the first and the last group number
    int GroupsTo = 0;
    // The most groups one `groups init` makes: more is taken for a mistyped number.
    static constexpr int MostGroups = 10000;
    // Set when the program should only print this and end with ExitCode (help, version, errors).
    QString Say;
    int ExitCode = 0;
    bool Done = false;

    static TCommandLine Parse(const QStringList &arguments);
    // The arguments without Qt's own options (-platform offscreen, -style=fusion, -reverse …),
    // which QApplication takes from the same command line.
    static QStringList WithoutQtOptions(const QStringList &arguments);
};
