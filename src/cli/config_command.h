#pragma once

#include <QString>

// `varnex check-config`: the settings file and key.dat checked as the program reads them at
// start, each problem one line on standard output naming the file and the setting. Exit status
// 0 clean, 1 problems, 2 when the settings cannot be read at all.
namespace TConfigCommand {

int Run(const QString &settingsFile, const QString &keyFile);

} // namespace TConfigCommand
