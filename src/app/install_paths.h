#pragma once

#include <QString>

// Where the program finds its folders, run from its build folder, copied anywhere, or installed.
namespace TInstallPaths {

// The folder that holds DATA/: `given` (from --data-dir) when set; the executable's folder when
// it is writable (a portable copy); else ${XDG_DATA_HOME:-$HOME/.local/share}/varnex.
QString DataDir(const QString &given);
// The sounds beside the executable, else the installed share folder (../share/varnex).
QString SoundDir();

} // namespace TInstallPaths
