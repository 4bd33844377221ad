#include "support/test_support.h"

#include <QFile>
#include <QUdpSocket>

#include <memory>
#include <vector>

namespace TestSupport {

int FreeUdpPort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::AnyIPv4, 0))
        return 0;
    return probe.localPort();
}

QList<int> FreeUdpPorts(int n)
{
    std::vector<std::unique_ptr<QUdpSocket>> probes;
    QList<int> ports;
    for (int i = 0; i < n; ++i) {
        probes.push_back(std::make_unique<QUdpSocket>());
        if (!probes.back()->bind(QHostAddress::AnyIPv4, 0))
            return {};
        ports << probes.back()->localPort();
    }
    return ports;
}

QByteArray Hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

QString WriteSettings(const QTemporaryDir &dir, const QStringList &lines)
{
    const QString path = dir.filePath(QStringLiteral("Zelvane.conf"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    return path;
}

} // namespace TestSupport
