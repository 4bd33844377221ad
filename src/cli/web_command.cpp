#include "cli/web_command.h"

#include "cli/command_line.h"
#include "control/control_server.h"
#include "service/service_log.h"
#include "service/service_notifier.h"
#include "service/stop_signals.h"
#include "common/configuration.h"
#include "common/settings_store.h"
#include "history/history.h"
#include "web/web_face.h"
#include "web/web_rules.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace TWebCommand {

int Run(const TCommandLine &line, const QString &dataDir, const QString &settingsFile)
{
    const TServiceLog log;
    TSettingsStore settings(settingsFile);
    // Read only: a settings file that is not there is not made (the defaults apply).
    if (QFileInfo::exists(settings.Path()))
        settings.Open();
    if (!settings.Problem().isEmpty())
        log.Write(TLogLevel::Warning, QStringLiteral("设置文件 %1 无法读取: %2（按默认值运行）").arg(settings.Path(), settings.Problem()));
    TConfiguration config;
    config.ReadWeb(settings);
    if (config.HttpAddress.isEmpty()) {
        log.Write(TLogLevel::Notice, QStringLiteral("设置 HttpAddress 为空：不提供网页接口"));
        return 0;
    }
    QString control = line.Control;
    if (control.isEmpty())
        control = settings.Read(QStringLiteral("ControlSocket")).trimmed();
    if (control.isEmpty())
        control = TControlServer::ClientPaths().value(0);

    TStorePlace history{QDir(dataDir).filePath(QStringLiteral("DATA/") + THistory::FileName()), {}};
    const QString address = line.DatabaseGiven ? line.Database : settings.Read(TConfiguration::DatabaseUrlKey()).trimmed();
    QString why;
    if (!TStoreUrl::Parse(address, &history.Url, &why)) {
        log.Write(TLogLevel::Error, why);
        return 1;
    }
    // A file that is not there is not made (this process never writes to the data folder): it
    // is read once the program has made it.
    if (!history.OnServer() && !QFileInfo::exists(history.File))
        log.Write(TLogLevel::Warning, QStringLiteral("通知记录 %1 还不存在：主程序建立后显示").arg(QDir::toNativeSeparators(history.File)));

    TWebFace face(control, history, true);
    QObject::connect(&face, &TWebFace::Said, &face, [&log](const QString &said) { log.Write(TLogLevel::Notice, said); });
    const QStringList names = settings.Read(QStringLiteral("HttpNames")).split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
    if (!face.Listen(config.HttpAddress, config.HttpToken, names, &why)) {
        log.Write(TLogLevel::Error, why);
        return 1;
    }
    QHostAddress host;
    quint16 port = 0;
    TWebRules::ParseAddress(config.HttpAddress, &host, &port, &why);
    const QString shown = host.protocol() == QAbstractSocket::IPv6Protocol ? QLatin1Char('[') + host.toString() + QLatin1Char(']')
                                                                            : host.toString();
    const QString serving = QStringLiteral("网页接口在 http://%1:%2/ 提供（HttpAddress=%3），状态来自 %4，通知记录来自 %5")
                                .arg(shown)
                                .arg(face.Port())
                                .arg(config.HttpAddress, control, history.Shown());
    log.Write(TLogLevel::Notice, serving);
    TServiceNotifier notifier;
    notifier.Ready(serving);
    TStopSignals stop;
    QObject::connect(&stop, &TStopSignals::StopAsked, &face, [] { QCoreApplication::exit(0); });
    const int rc = QCoreApplication::exec();
    notifier.Stopping();
    face.Close();
    return rc;
}

} // namespace TWebCommand
