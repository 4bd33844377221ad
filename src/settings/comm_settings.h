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
        QString Title;
        QStringList Labels;
        QList<QStringList> Entries;
        QStringList Texts;
    };

    struct TOutcome
    {
        QString Error;  // nothing was changed when set, unless it is a storing error
        QString Notice; // something the operator should know although all went well
    };

    static QStringList Labels(TSide side);
    // Looks up the host's own address afresh for the last row's entries.
    static TForm Form(TSide side, const TConfiguration &config);
    // Checks all five texts first (the first may not be empty, ports are 1 to 65535); then takes
    // them into memory and writes them to the store in row order.
    static TOutcome Apply(TSide side, const QStringList &texts, TConfiguration &config, TSettingsStore &store);
};
