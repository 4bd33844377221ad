#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct TConfiguration;
class TSettingsStore;

// The addresses and ports of one link as the communication settings dialog shows and takes
// them: five rows of a label, offered entries and the current text.
class TCommSettings
{
public:
    enum TSide { Host, Platform };
    static constexpr int Rows = 5;

    struct TForm
    {
        TSide Side = Host;
        QString Title;
        QStringList Labels;
        QList<QStringList> Entries;
        QStringList Texts;
    };

    // The first field that cannot be taken, and why; Row -1 when all can.
    struct TProblem
    {
        int Row = -1;
        QString Text;
    };

    struct TOutcome
    {
        QString Error;  // nothing was changed when set, unless it is a storing error
        QString Notice; // something the operator should know although all went well
    };

    static QStringList Labels(TSide side);
    static QStringList CheckTypes() { return {QStringLiteral("CRC-16/IBM"), QStringLiteral("CRC-16/MODBUS")}; }
    static bool IsDottedAddress(const QString &text);
    // Looks up the host's own address afresh for the last row's entries.
    static TForm Form(TSide side, const TConfiguration &config);
    // The first may not be empty; addresses are dotted IPv4 addresses (this machine's own may be
    // left empty: it is only shown); ports are 1 to 65535; the check type is one of those offered.
    static TProblem Check(TSide side, const QStringList &texts);
    // Checks all five texts first; then takes them into memory and writes them to the store in
    // row order.
    static TOutcome Apply(TSide side, const QStringList &texts, TConfiguration &config, TSettingsStore &store);
};
