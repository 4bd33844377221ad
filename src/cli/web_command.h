#pragma once

struct TCommandLine;
class QString;

// `varnex web`: the web face in a process of its own, until a stop signal. The settings file
// gives HttpAddress, HttpToken, HttpNames, ControlSocket and DatabaseUrl (--control and
// --database win). Exit status 0 when stopped or turned off (HttpAddress empty), 1 when it
// cannot serve.
namespace TWebCommand {

int Run(const TCommandLine &line, const QString &dataDir, const QString &settingsFile);

} // namespace TWebCommand
