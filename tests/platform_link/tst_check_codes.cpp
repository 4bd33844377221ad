#include "platform_link/ldtx_frame.h"
#include "platform_link/unit_crc.h"
#include "support/test_support.h"

#include <QTest>

using TestSupport::Hex;

class TstCheckCodes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void table()
    {
        QCOMPARE(Unit_CRC::CRC16Table[1], uint16_t(0xC0C1));
        QCOMPARE(Unit_CRC::CRC16Table[128], uint16_t(0xA001));
        QCOMPARE(Unit_CRC::CRC16Table[255], uint16_t(0x4040));
    }

    void checkCode_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("checkType");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("display");
        const QByteArray digits("123456789");
        const QByteArray groupList = Hex("4C44545804000000 0000");
        QTest::newRow("123456789 IBM") << digits << "CRC-16/IBM" << 0xBB3D << "0XBB3D/47933";
        QTest::newRow("123456789 MODBUS") << digits << "CRC-16/MODBUS" << 0x4B37 << "0X4B37/19255";
        QTest::newRow("group list MODBUS") << groupList << "CRC-16/MODBUS" << 0x616D << "0X616D/24941";
        QTest::newRow("group list IBM") << groupList << "CRC-16/IBM" << 0x661D << "0X661D/26141";
        QTest::newRow("other text") << groupList << "crc-16/modbus" << 0 << "0X0000/0";
        QTest::newRow("empty text") << digits << "" << 0 << "0X0000/0";
    }
    void checkCode()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, checkType);
        QFETCH(int, code);
        QFETCH(QString, display);
        QCOMPARE(int(GetStrCrc(bytes, checkType)), code);
        QCOMPARE(CheckCodeDisplayText(GetStrCrc(bytes, checkType)), display);
        // The check code is the same whether or not the bytes go through hex text first.
        QCOMPARE(GetStrCrc(Unit_CRC::HexTextToBytes(QString::fromLatin1(bytes.toHex(' '))), checkType),
                 GetStrCrc(bytes, checkType));
    }

    void hexText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("normalised");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("comma and blanks") << "4C,44  5" << true << "4C 44 05" << Hex("4C4405");
        QTest::newRow("single digits") << "1 2 3" << true << "01 02 03" << Hex("010203");
        QTest::newRow("odd run, case kept") << "abc" << true << "0a bc" << Hex("0ABC");
        QTest::newRow("blanks at the ends") << "  4c44 " << true << "4c 44" << Hex("4C44");
        QTest::newRow("bad digit") << "4g" << false << "4g" << QByteArray();
        QTest::newRow("empty") << "" << false << "" << QByteArray();
        QTest::newRow("non-ASCII digit") << QString::fromUtf8("4٣") << false << QString::fromUtf8("4٣") << QByteArray();
    }
    void hexText()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QString, normalised);
        QFETCH(QByteArray, bytes);
        QString t = text;
        QCOMPARE(Unit_CRC::CheckHexText(t), ok);
        QCOMPARE(t, normalised);
        QCOMPARE(Unit_CRC::HexTextToBytes(text), bytes);
    }

    void build_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("messageId");
        QTest::addColumn<QString>("checkType");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("group list MODBUS") << QByteArray() << 0 << 0 << 0 << "CRC-16/MODBUS"
                                           << Hex("4C445458040000000000 6D61");
        QTest::newRow("group list IBM") << QByteArray() << 0 << 0 << 0 << "CRC-16/IBM" << Hex("4C445458040000000000 1D66");
        QTest::newRow("empty group reply") << Hex("00") << 0 << 1 << 7 << "CRC-16/MODBUS"
                                           << Hex("4C445458050007000100 00 542D");
        QTest::newRow("other check type") << QByteArray() << 0 << 0 << 0 << "none" << Hex("4C445458040000000000 0000");
    }
    void build()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, type);
        QFETCH(int, direction);
        QFETCH(int, messageId);
        QFETCH(QString, checkType);
        QFETCH(QByteArray, frame);
        const auto built = LdtxFrame::Build(payload, uint8_t(type), uint8_t(direction), uint16_t(messageId), checkType);
        QVERIFY(built);
        QCOMPARE(built->Bytes.toHex(' '), frame.toHex(' '));
    }

    void buildSizes_data()
    {
        QTest::addColumn<int>("payloadSize");
        QTest::addColumn<int>("frameSize"); // 0: not built
        QTest::addColumn<QByteArray>("lengthBytes");
        QTest::newRow("7 bytes: L + 8 = 19") << 7 << 19 << Hex("0B00");
        QTest::newRow("1449 bytes, the largest sent") << 1449 << 1461 << Hex("AD05");
        QTest::newRow("1450 bytes") << 1450 << 0 << QByteArray();
        QTest::newRow("70000 bytes") << 70000 << 0 << QByteArray();
    }
    void buildSizes()
    {
        QFETCH(int, payloadSize);
        QFETCH(int, frameSize);
        QFETCH(QByteArray, lengthBytes);
        const auto built = LdtxFrame::Build(QByteArray(payloadSize, 'x'), 2, 0, 1, QStringLiteral("CRC-16/MODBUS"));
        QCOMPARE(bool(built), frameSize > 0);
        if (built) {
            QCOMPARE(built->Bytes.size(), frameSize);
            QCOMPARE(built->Bytes.mid(4, 2), lengthBytes);
        }
    }
};

QTEST_GUILESS_MAIN(TstCheckCodes)
#include "tst_check_codes.moc"
