#pragma once

#include <QString>
#include <QStringList>

class TSettingsStore;

// The configuration values held in memory, with their defaults. A value missing or empty in
// the settings store leaves the default; defaults are never written back.
struct TConfiguration
{
    // Switch side
    QString IpAddress = QStringLiteral("192.168.0.194");  // left CPU
    QString IpAddress1 = QStringLiteral("192.168.0.195"); // right CPU
    int IpPort = 18196;
    int RecIpPort = 12010;
    QString LocalIPAddr;

    // Platform side
    QString CommIpAddress = QStringLiteral("192.168.0.110");
    QString CheckType = QStringLiteral("CRC-16/MODBUS");
    int CommIpPort = 20011;
    int CommRecIpPort = 20011;
    QString CommLocalIPAddr;
    // No datagram from the platform for this long marks its link silent; 0 never does.
    int CommSilenceSeconds = 60;
    // Notification history older than this many days is removed.
    int HistoryDays = 400;

    // Where the directory and the history are: empty for the files in DATA/, else a
    // PostgreSQL address (postgresql://user@host:port/dbname).
    QString DatabaseUrl;
    static QString DatabaseUrlKey() { return QStringLiteral("DatabaseUrl"); }

    // A standby pair: both programs start silent (备用) and are told which one works.
    bool Pair = false;
    static QString RoleKey() { return QStringLiteral("Role"); }
    // The address the peers send to (the pair's shared one); empty: every local address.
    QString ServiceAddress;
    // Where the control socket listens; empty: the runtime folder's varnex.ctl.
    QString ControlSocket;

    // The read-only web face (`varnex web`, never the program itself): "host:port" it listens
    // on (empty: none), and the token every request from beyond this machine must carry.
    QString HttpAddress = DefaultHttpAddress();
    QString HttpToken;
    static QString DefaultHttpAddress() { return QStringLiteral("127.0.0.1:8089"); }

    int CurrentKeyboard = 3;
    // CurrentKeyboard as read at start; key commands to the switch carry it for the whole run.
    int StartKeyboard = 3;

    // The executable's folder, with a trailing separator.
    QString ProgramDir;
    // The folders of the directory's DATA/ and of the sounds, with a trailing separator.
    QString DataDir;
    QString SoundDir;

    // Each reader appends one operator-readable line to errors for every value that is not a
    // decimal integer; that value keeps its default.
    void ReadHostSide(const TSettingsStore &store, QStringList &errors);
    void ReadPlatformSide(const TSettingsStore &store, QStringList &errors);
    void ReadKeyboard(const TSettingsStore &store, QStringList &errors);
    // Role, ServiceAddress and ControlSocket. A Role that is neither single nor pair is taken
    // for pair: a program that is not sure it works alone stays silent until told.
    void ReadPair(const TSettingsStore &store, QStringList &errors);
    // HttpAddress and HttpToken (read by `varnex web`). HttpAddress present but empty turns the
    // web face off.
    void ReadWeb(const TSettingsStore &store);

    // The first IPv4 address reported for this machine's host name (empty when none).
    static QString HostOwnAddress();
};

// A decimal integer in signed 32-bit range, blanks around it allowed.
bool ParseDecimalInt(const QString &text, int *value);
