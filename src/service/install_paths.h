#pragma once

#include <QString>

// Where the program finds its folders, run from its build folder, copied anywhere, or installed.
namespace TInstallPaths {

// Installed: the executable sits in a bin/ folder with ../share/varnex beside it (as under /usr),
// which a portable copy (a build folder, a folder copied to a PC) does not have.
bool Installed();
// The folder that holds DATA/: `given` (from --data-dir) when set; the executable's folder for a
// portable copy that may write there; else ${XDG_DATA_HOME:-$HOME/.local/share}/varnex. An
// installed program never puts DATA/ beside itself, whoever runs it.
QString DataDir(const QString &given);
// The settings file for a run on dataDir: Zelvane.conf in a folder given with --data-dir when
// one is there (the service keeps its settings beside its data), else empty: the standard place.
QString SettingsFile(const QString &dataDir, bool dataDirGiven);
// key.dat in the data folder; a key.dat in the working directory only when the data folder has
// none (where older copies looked for it).
QString KeyFile(const QString &dataDir);
// The sounds beside the executable, else the installed share folder (../share/varnex).
QString SoundDir();

} // namespace TInstallPaths
