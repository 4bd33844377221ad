#pragma once

#include "store/store_url.h"

#include <QString>

struct TCommandLine;

// The directory window's import and export, and a check of the directory against the key table,
// run from the command line without a window. They use the directory the running program uses
// (SQLite locks keep both right; a busy directory is named). Messages go to standard error;
// the result is the exit status: 0 when everything went well.
namespace TDirectoryCommands {

// Where the commands find the directory: the folder that holds DATA/, and the server when the
// directory is on one.
struct TStorePlace
{
    QString DataDir;
    TStoreUrl Url;
};

// The command line's command on the folders in use: names them first, refuses a command that
// only reads when the folder holds no directory, then runs the command.
int Run(const TCommandLine &line, const QString &dataDir, const QString &settingsFile, const QString &keyFile);

// The directory and the history moved between the files in dataDir's DATA/ and a server
// (exactly one of from and to is a server address). 0 when all was copied and checked.
int Migrate(const QString &dataDir, const QString &from, const QString &to, bool append);
// label empty: today's date.
int Import(const TStorePlace &place, const QString &file, const QString &label);
// file: .xlsx, .csv, or no extension (.xlsx added); an existing file is replaced only with force.
int Export(const TStorePlace &place, const QString &file, bool force);
// Extensions without a key on the current keyboard, and number keys not in the directory,
// listed on standard output. 0 when there are none, 1 when there are, 2 when it cannot check.
int CheckKeys(const TStorePlace &place, const QString &keyFile, const QString &settingsFile);
// The groups from..to appended after the directory's groups, as the directory window's
// 初始化组 writes them; none of them when one is there already.
int InitGroups(const TStorePlace &place, int from, int to);

} // namespace TDirectoryCommands
