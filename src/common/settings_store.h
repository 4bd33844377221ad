#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

// The program's named string values under one key. On Windows the registry key
// HKEY_CURRENT_USER\Zelvane; elsewhere a file of Name=Value lines (UTF-8), replaced whole on
// every write so a crash never leaves half a file. Names match without regard to case; a
// missing value reads as empty text.
class TSettingsStore
{
public:
    // An empty path means the standard place for this platform.
    explicit TSettingsStore(QString filePath = QString());

    static QString DefaultPath();
    QString Path() const { return FilePath; }

    // Opens the key: creates it when missing and reloads every value.
    void Open();
    QString Read(const QString &name) const;
    // The value is given, even as empty text.
    bool Contains(const QString &name) const;
    // Every name given, as first spelt, in file order.
    QStringList Names() const;
    // The file was not valid UTF-8 at the last Open (a GBK file, say): what could not be read
    // reads as replacement characters.
    bool NotUtf8() const { return BadEncoding; }
    // Names the file gives more than once (the last line wins), as last opened.
    QStringList RepeatedNames() const { return Repeated; }
    // Why the file, which exists, could not be read at the last Open; empty when it was read.
    // Nothing is written over such a file: its values would be lost.
    QString Problem() const { return Unreadable; }
    // False, with the reason in error, when the value could not be stored.
    bool Write(const QString &name, const QString &value, QString *error = nullptr);

private:
    void Load();

    QString FilePath;
    // In file order; the spelling of a name is kept from the first time it was written.
    std::vector<std::pair<QString, QString>> Values;
    QStringList Repeated;
    QString Unreadable;
    bool BadEncoding = false;
};
