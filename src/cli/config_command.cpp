#include "cli/config_command.h"

#include "common/configuration.h"
#include "common/settings_store.h"
#include "settings/config_check.h"
#include "store/store_url.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace TConfigCommand {

namespace {

void Print(std::FILE *to, const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), to);
}

} // namespace

int Run(const QString &settingsFile, const QString &keyFile)
{
    TSettingsStore store(settingsFile);
    const QString shown = QDir::toNativeSeparators(store.Path());
    // Checked as it is: a file not there yet is not made (every value is its default then).
    const bool exists = QFileInfo::exists(store.Path());
    if (exists)
        store.Open();
    if (!store.Problem().isEmpty()) {
        Print(stderr, QStringLiteral("varnex check-config: 设置文件 %1 无法读取: %2").arg(shown, store.Problem()));
        return 2;
    }
    QStringList problems;
    for (const TConfigCheck::TProblem &problem : TConfigCheck::Settings(store))
        problems << problem.Text;
    // What the program's own readers say when they fall back to a default.
    TConfiguration config;
    QStringList fallbacks;
    config.ReadHostSide(store, fallbacks);
    config.ReadPlatformSide(store, fallbacks);
    config.ReadKeyboard(store, fallbacks);
    config.ReadPair(store, fallbacks);
    for (const QString &fallback : fallbacks)
        problems << QStringLiteral("设置文件 %1：%2").arg(shown, fallback);
    TStoreUrl url;
    if (QString why; !TStoreUrl::Parse(config.DatabaseUrl, &url, &why))
        problems << QStringLiteral("设置文件 %1：%2 不可用: %3").arg(shown, TConfiguration::DatabaseUrlKey(), why);
    if (const QString use = store.Read(QStringLiteral("ifUse0")); use.isEmpty() || use == QStringLiteral("否"))
        problems << QStringLiteral("设置文件 %1：第0路未启用（ifUse0 = \"%2\"，启用须为 是）：平台的通知都不会被执行。")
                        .arg(shown, store.Read(QStringLiteral("ifUse0")));
    for (const TConfigCheck::TProblem &problem : TConfigCheck::KeyFile(keyFile, config.CurrentKeyboard))
        problems << problem.Text;
    for (const QString &problem : problems)
        Print(stdout, problem);
    if (problems.isEmpty())
        Print(stderr, QStringLiteral("varnex check-config: %1%2 和键位数据 %3 没有发现问题。")
                          .arg(shown, exists ? QString() : QStringLiteral("（不存在，全部按默认值）"), QDir::toNativeSeparators(keyFile)));
    else
        Print(stderr, QStringLiteral("varnex check-config: %1 个问题。").arg(problems.size()));
    return problems.isEmpty() ? 0 : 1;
}

} // namespace TConfigCommand
