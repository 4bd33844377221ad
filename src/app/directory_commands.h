#pragma once

#include <QString>

// The directory window's import and export, and a check of the directory against the key table,
// run from the command line without a window. They use the directory the running program uses
// (SQLite locks keep both right; a busy directory is named). Messages go to standard error;
// the result is the exit status: 0 when everything went well.
namespace TDirectoryCommands {

int Import(const QString &dataDir, const QString &file, const QString &label);
int Export(const QString &dataDir, const QString &file);
// Extensions without a key on the current keyboard, and number keys not in the directory.
int CheckKeys(const QString &dataDir, const QString &keyFile, const QString &settingsFile);

} // namespace TDirectoryCommands
