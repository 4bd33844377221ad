#include "settings/config_check.h"

#include "common/configuration.h"
#include "common/settings_store.h"
#include "keyboard/key_table.h"
#include "settings/comm_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

namespace {

int Distance(const QString &a, const QString &b)
{
    // Levenshtein, without regard to case (names match so).
    const QString x = a.toLower();
    const QString y = b.toLower();
    QList<int> row(y.size() + 1);
    for (qsizetype j = 0; j <= y.size(); ++j)
        row[j] = int(j);
    for (qsizetype i = 1; i <= x.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= y.size(); ++j) {
            const int above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[y.size()];
}

QString Place(const TSettingsStore &store)
{
    return QStringLiteral("设置文件 %1：").arg(QDir::toNativeSeparators(store.Path()));
}

} // namespace

QStringList TConfigCheck::KnownNames()
{
    QStringList names{QStringLiteral("IpAddress"),     QStringLiteral("IpAddress1"),    QStringLiteral("IpPort"),
                      QStringLiteral("RecIpPort"),     QStringLiteral("LocalIPAddr"),   QStringLiteral("CommIpAddress"),
                      QStringLiteral("CheckType"),     QStringLiteral("CommIpPort"),    QStringLiteral("CommRecIpPort"),
                      QStringLiteral("CommLocalIPAddr"), QStringLiteral("CommSilenceSeconds"), QStringLiteral("HistoryDays"),
                      TConfiguration::DatabaseUrlKey(), QStringLiteral("CurrentKeyboard"), TConfiguration::RoleKey(),
                      QStringLiteral("ServiceAddress"), QStringLiteral("ControlSocket"), QStringLiteral("HttpAddress"),
                      QStringLiteral("HttpToken"),     QStringLiteral("HttpNames"),     QStringLiteral("MainWindowPlace")};
    for (int channel = 0; channel < 8; ++channel)
        names << QStringLiteral("ifUse%1").arg(channel) << QStringLiteral("CallerNumber%1").arg(channel)
              << QStringLiteral("SpeakText%1").arg(channel);
    return names;
}

QString TConfigCheck::Nearest(const QString &name)
{
    QString best;
    int bestDistance = 0;
    for (const QString &known : KnownNames()) {
        const int distance = Distance(name, known);
        if (best.isEmpty() || distance < bestDistance) {
            best = known;
            bestDistance = distance;
        }
    }
    // Near: a slip of a few letters, not another word.
    return bestDistance <= std::max(2, int(name.size()) / 4) ? best : QString();
}

QList<TConfigCheck::TProblem> TConfigCheck::Settings(const TSettingsStore &store)
{
    QList<TProblem> problems;
    const QString where = Place(store);
    if (store.NotUtf8())
        problems.append({where + QStringLiteral("不是 UTF-8 编码（看来是 GBK）：其中的中文值（如 是）读不出，相应设置按默认值运行。请另存为 UTF-8。")});
    const QStringList known = KnownNames();
    for (const QString &name : store.Names()) {
        if (known.contains(name, Qt::CaseInsensitive))
            continue;
        const QString nearest = Nearest(name);
        problems.append({where + (nearest.isEmpty() ? QStringLiteral("%1 不是本程序的设置名称，不起作用。").arg(name)
                                                    : QStringLiteral("%1 — 是否为 %2？（不认识的设置名称不起作用，%2 仍按默认值运行）")
                                                          .arg(name, nearest))});
    }
    const auto value = [&store](const QString &name) { return store.Read(name).trimmed(); };
    // Addresses the program sends to, or binds: a host name or a typo leaves nothing to send to.
    for (const QString &name : {QStringLiteral("IpAddress"), QStringLiteral("IpAddress1"), QStringLiteral("CommIpAddress"),
                                QStringLiteral("ServiceAddress"), QStringLiteral("LocalIPAddr"), QStringLiteral("CommLocalIPAddr")}) {
        const QString text = value(name);
        if (!text.isEmpty() && !TCommSettings::IsDottedAddress(text))
            problems.append({where + QStringLiteral("%1 = \"%2\" 不是 IPv4 地址（四个 0 到 255 之间的数，用点分隔，如 192.168.0.194）。")
                                         .arg(name, store.Read(name))});
    }
    if (const QString text = store.Read(QStringLiteral("CheckType")); !text.isEmpty() && !TCommSettings::CheckTypes().contains(text))
        problems.append({where + QStringLiteral("CheckType = \"%1\" 不是可用的校验类型（%2）：平台的每一帧都通不过校验，不会有任何应答。")
                                     .arg(text, TCommSettings::CheckTypes().join(QStringLiteral("、")))});
    for (int channel = 0; channel < 8; ++channel) {
        const QString name = QStringLiteral("ifUse%1").arg(channel);
        const QString text = store.Read(name);
        if (!text.isEmpty() && text != QStringLiteral("是") && text != QStringLiteral("否"))
            problems.append({where + QStringLiteral("%1 = \"%2\" 既不是 是 也不是 否：第%3路按 否（不使用）运行。")
                                         .arg(name, text).arg(channel)});
    }
    const QString role = value(TConfiguration::RoleKey());
    if (!role.isEmpty() && role.compare(QLatin1String("single"), Qt::CaseInsensitive) != 0
        && role.compare(QLatin1String("pair"), Qt::CaseInsensitive) != 0)
        problems.append({where + QStringLiteral("Role = \"%1\" 既不是 single 也不是 pair：程序不启动（单机请写 single，双机请写 pair）。").arg(role),
                         true});
    if (store.Contains(QStringLiteral("HttpAddress"))) {
        const QString text = value(QStringLiteral("HttpAddress"));
        const QUrl url(QStringLiteral("http://") + text);
        if (!text.isEmpty() && (!url.isValid() || url.host().isEmpty() || url.port(-1) < 0 || !url.path().isEmpty()))
            problems.append({where + QStringLiteral("HttpAddress = \"%1\" 不是 地址:端口（例如 127.0.0.1:8089）：网页接口不提供。").arg(text)});
    }
    return problems;
}

QList<TConfigCheck::TProblem> TConfigCheck::KeyFile(const QString &path, int keyboard)
{
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo file(path);
    if (!file.exists())
        return {{QStringLiteral("键位数据 %1 不存在：找不到任何号码的键位，通知不会按下任何分机键。").arg(shown)}};
    if (file.size() != TKeyTable::FileSize)
        return {{QStringLiteral("键位数据 %1 有 %2 字节，不是调度机导出的 %3 字节：它不是完整的键位文件，键位可能全部或部分不对。")
                     .arg(shown)
                     .arg(file.size())
                     .arg(TKeyTable::FileSize)}};
    TKeyTable table;
    QString why;
    if (!table.Load(path, &why))
        return {{QStringLiteral("键位数据 %1 无法读取: %2").arg(shown, why)}};
    if (keyboard < 0 || keyboard >= TKeyTable::Keyboards)
        return {{QStringLiteral("设置 CurrentKeyboard = %1 不在 0 到 7 之间：找不到任何号码的键位。").arg(keyboard)}};
    if (!table.HasKeys(keyboard))
        return {{QStringLiteral("键位数据 %1 中，当前键盘 %2（设置 CurrentKeyboard）上没有任何键：通知不会按下任何分机键。").arg(shown).arg(keyboard)}};
    return {};
}
