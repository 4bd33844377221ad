#include "keyboard/key_table.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using TKeys = QList<QPair<int, int32_t>>; // index into the whole table, value

namespace {
QString Write(const QTemporaryDir &dir, const QByteArray &bytes)
{
    const QString path = dir.filePath(QStringLiteral("key.dat"));
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
    return path;
}
} // namespace

class TstKeyTable : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void names_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("name");
        QTest::newRow("trunk") << 0x8005 << "中继5";
        QTest::newRow("trunk, bit 14 too") << 0xC005 << "中继5";
        QTest::newRow("networked user") << 0x4005 << "网用5";
        QTest::newRow("bit 12 set: a number") << 0x9005 << "36869";
        QTest::newRow("extension") << 2001 << "2001";
        QTest::newRow("5 has no name") << 5 << "5";
        QTest::newRow("negative with bit 14: networked user") << -7 << "网用16377";
        QTest::newRow("negative number") << -65536 << "-65536";
        const QStringList named{"0 空", "1 组一", "2 组二", "3 组三", "4 组四", "7 会议", "9 回叫", "10 强拆", "11 催挂",
                                "12 等待", "13 夜服", "14 确认", "15 取消", "16 左调", "17 右调", "33 全呼", "18 18", "32 32"};
        for (const QString &n : named)
            QTest::newRow(qPrintable(n)) << n.section(QLatin1Char(' '), 0, 0).toInt() << n.section(QLatin1Char(' '), 1);
    }
    void names()
    {
        QFETCH(int, value);
        QFETCH(QString, name);
        QCOMPARE(TKeyTable::GetKeyName(value), name);
    }

    void search_data()
    {
        QTest::addColumn<TKeys>("keys");
        QTest::addColumn<int>("keyboard");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("found");
        QTest::addColumn<QList<int>>("position"); // module, column, row
        QTest::newRow("lowest position wins") << TKeys{{3 * 1088 + 70, 8001}, {3 * 1088 + 9, 8001}}
                                              << 3 << 8001 << 1 << QList<int>{0, 1, 1};
        QTest::newRow("last searched key") << TKeys{{3 * 1088 + 1023, 8001}} << 3 << 8001 << 1
                                           << QList<int>{15, 7, 7};
        QTest::newRow("the 17th block is not searched") << TKeys{{3 * 1088 + 1024, 8001}} << 3
                                                        << 8001 << 0 << QList<int>{9, 9, 9};
        QTest::newRow("keyboard 7 reads its own values only")
            << TKeys{{7615, 8001}, {8640, 8001}, {7616 + 1023, 8001}} << 7
            << 8001 << 1 << QList<int>{15, 7, 7};
        QTest::newRow("a trunk key is not an extension") << TKeys{{3 * 1088, 0x8000 + 5}} << 3 << 5
                                                         << 0 << QList<int>{9, 9, 9};
        QTest::newRow("0 is an empty slot, never a number's key") << TKeys{} << 3 << 0 << 0
                                                                  << QList<int>{9, 9, 9};
        QTest::newRow("keyboard 8 has no keys") << TKeys{} << 8 << 0 << 0 << QList<int>{9, 9, 9};
        QTest::newRow("keyboard -1 has no keys") << TKeys{} << -1 << 0 << 0 << QList<int>{9, 9, 9};
        QTest::newRow("keyboard 29 has no keys") << TKeys{} << 29 << 0 << 0 << QList<int>{9, 9, 9};
    }
    void search()
    {
        QFETCH(TKeys, keys);
        QFETCH(int, keyboard);
        QFETCH(int, value);
        QFETCH(int, found);
        QFETCH(QList<int>, position);
        TKeyTable table;
        for (const auto &k : keys)
            table.KeyTable[size_t(k.first)] = k.second;
        table.FoundModule = table.FoundColumn = table.FoundRow = 9; // kept when nothing is found
        QCOMPARE(table.findkeycode(value, keyboard), found);
        QCOMPARE((QList<int>{table.FoundModule, table.FoundColumn, table.FoundRow}), position);
    }

    void load()
    {
        QTemporaryDir dir;
        TKeyTable table;
        QVERIFY(table.Load(Write(dir, TestSupport::KeyFile({{0, 11}, {8703, 22}}))));
        QCOMPARE(table.KeyTable[0], 11);
        QCOMPARE(table.KeyTable[8703], 22);

        // A short file replaces only the bytes it has, a trailing part value included.
        QVERIFY(table.Load(Write(dir, QByteArray::fromHex("05000000 07"))));
        QCOMPARE(table.KeyTable[0], 5);
        QCOMPARE(table.KeyTable[1], 7);
        QCOMPARE(table.KeyTable[8703], 22);
        table.KeyTable[1] = 0x01020300;
        QVERIFY(table.Load(Write(dir, QByteArray::fromHex("05000000 FF"))));
        QCOMPARE(table.KeyTable[1], 0x010203FF);

        // A longer file: only the first 34,816 bytes.
        QByteArray longer = TestSupport::KeyFile({{8703, 33}}) + QByteArray(5000, '\x7F');
        QVERIFY(table.Load(Write(dir, longer)));
        QCOMPARE(table.KeyTable[8703], 33);
        QCOMPARE(table.KeyTable[0], 0);
    }

    void unreadable_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("missing") << "missing";
        QTest::newRow("a folder") << "folder";
    }
    void unreadable()
    {
        QFETCH(QString, what);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("key.dat"));
        if (what == QLatin1String("folder"))
            QDir().mkpath(path);
        TKeyTable table;
        table.KeyTable[5] = 42;
        QString why;
        QVERIFY(!table.Load(path, &why));
        QVERIFY(!why.isEmpty());
        QCOMPARE(table.KeyTable[5], 42);
    }
};

QTEST_GUILESS_MAIN(TstKeyTable)
#include "tst_key_table.moc"
