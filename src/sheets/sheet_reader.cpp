#include "sheets/sheet_reader.h"

#include "sheets/xlsx_sheet.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <freexl.h>
#include <ixion/address.hpp>
#include <ixion/model_context.hpp>
#include <orcus/orcus_ods.hpp>
#include <orcus/spreadsheet/document.hpp>
#include <orcus/spreadsheet/factory.hpp>
#include <orcus/spreadsheet/sheet.hpp>
#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>

#include <cmath>
#include <functional>
#include <memory>

namespace {

using TCellAt = std::function<QString(int row, int column)>;

// Row 1, then rows from 2 on while column A holds something.
QList<QStringList> CollectRows(int rowCount, const TCellAt &cellAt)
{
    QList<QStringList> rows;
    for (int r = 0; r < rowCount; ++r) {
        QStringList cells;
        for (int c = 0; c < TSheetReader::Columns; ++c)
            cells << TSheetReader::CleanText(cellAt(r, c));
        if (r > 0 && cells[0].isEmpty())
            break;
        rows << cells;
    }
    return rows;
}

bool ReadXlsx(const QString &path, QList<QStringList> *rows, QString *error)
{
    QHash<int, TXlsxSheet::TRow> cells;
    int rowCount = 0;
    if (!TXlsxSheet::Read(path, TSheetReader::Columns, &cells, &rowCount, error))
        return false;
    *rows = CollectRows(rowCount, [&cells](int r, int c) -> QString {
        const TXlsxSheet::TCell cell = cells.value(r).value(c);
        switch (cell.Kind) {
        case TXlsxSheet::TCell::Number: {
            bool ok = false;
            const double value = cell.Value.toDouble(&ok);
            return ok ? TSheetReader::NumberText(value) : cell.Value;
        }
        case TXlsxSheet::TCell::Boolean:
            return cell.Value.trimmed() == QLatin1String("0") ? QStringLiteral("FALSE") : QStringLiteral("TRUE");
        default: return cell.Value;
        }
    });
    return true;
}

bool ReadOds(const QString &path, QList<QStringList> *rows, QString *error)
{
    try {
        orcus::spreadsheet::document doc({1048576, 16384});
        orcus::spreadsheet::import_factory factory(doc);
        orcus::orcus_ods(&factory).read_file(QFile::encodeName(path).toStdString());
        if (doc.get_sheet_count() == 0) {
            *error = QStringLiteral("文件中没有工作表");
            return false;
        }
        const ixion::model_context &cells = doc.get_model_context();
        const auto range = doc.get_sheet(0)->get_data_range();
        const int rowCount = range.valid() ? range.last.row + 1 : 0;
        *rows = CollectRows(rowCount, [&cells](int r, int c) -> QString {
            const ixion::abs_address_t at(0, r, c);
            try {
                switch (cells.get_celltype(at)) {
                case ixion::celltype_t::string: {
                    const std::string_view s = cells.get_string_value(at);
                    return QString::fromUtf8(s.data(), qsizetype(s.size()));
                }
                case ixion::celltype_t::numeric: return TSheetReader::NumberText(cells.get_numeric_value(at));
                case ixion::celltype_t::boolean:
                    return cells.get_boolean_value(at) ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
                case ixion::celltype_t::formula: {
                    // The value last calculated, as it was saved with the file.
                    try {
                        return TSheetReader::NumberText(cells.get_numeric_value(at));
                    } catch (...) {
                        const std::string_view s = cells.get_string_value(at);
                        return QString::fromUtf8(s.data(), qsizetype(s.size()));
                    }
                }
                default: return QString();
                }
            } catch (...) {
                return QString();
            }
        });
        return true;
    } catch (const std::exception &e) {
        *error = QString::fromUtf8(e.what());
    } catch (...) {
        *error = QStringLiteral("未知错误");
    }
    if (error->isEmpty())
        *error = QStringLiteral("文件已损坏或不是电子表格");
    return false;
}

bool ReadXls(const QString &path, QList<QStringList> *rows, QString *error)
{
    const void *handle = nullptr;
    const QByteArray file = QFile::encodeName(path);
    int rc = freexl_open(file.constData(), &handle);
    std::unique_ptr<const void, int (*)(const void *)> closer(handle, freexl_close);
    unsigned int rowCount = 0;
    unsigned short columnCount = 0;
    if (rc == FREEXL_OK)
        rc = freexl_select_active_worksheet(handle, 0);
    if (rc == FREEXL_OK)
        rc = freexl_worksheet_dimensions(handle, &rowCount, &columnCount);
    if (rc != FREEXL_OK) {
        *error = QStringLiteral("文件已损坏、加密或不是 .xls 电子表格 (FreeXL %1)").arg(rc);
        return false;
    }
    *rows = CollectRows(int(qMin(rowCount, 1048576u)), [handle, columnCount](int r, int c) -> QString {
        FreeXL_CellValue cell;
        if (c >= columnCount || freexl_get_cell_value(handle, unsigned(r), (unsigned short)c, &cell) != FREEXL_OK)
            return QString();
        switch (cell.type) {
        case FREEXL_CELL_INT: return QString::number(cell.value.int_value);
        case FREEXL_CELL_DOUBLE: return TSheetReader::NumberText(cell.value.double_value);
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME: return QString::fromUtf8(cell.value.text_value);
        default: return QString();
        }
    });
    return true;
}

// Records of comma- or tab-separated text. A cell opened by a quote (after blanks at most) runs
// to its closing quote, separators and line breaks included, so a cell written with a line
// break reads back whole. False, with the line it opened on, when a quote is never closed: the
// rest of the file would otherwise vanish into one cell.
bool SplitDelimited(const QString &text, QChar separator, QList<QStringList> *records, int *openLine)
{
    QStringList cells;
    QString cell;
    bool quoted = false;
    int line = 1, quoteLine = 0;
    const auto endRecord = [&] {
        if (cell.endsWith(QLatin1Char('\r')))
            cell.chop(1);
        cells << cell;
        *records << cells;
        cells.clear();
        cell.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\n'))
            ++line;
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                cell += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == QLatin1Char('"') && cell.trimmed().isEmpty()) {
            quoted = true;
            quoteLine = line;
            cell.clear();
        } else if (c == separator) {
            cells << cell;
            cell.clear();
        } else if (c == QLatin1Char('\n')) {
            endRecord();
        } else {
            cell += c;
        }
    }
    if (quoted) {
        *openLine = quoteLine;
        return false;
    }
    if (!cell.isEmpty() || !cells.isEmpty())
        endRecord();
    return true;
}

// What a file read as text turns out to be when it is no text at all: a spreadsheet given a
// text file's extension, or other binary data. Empty for text.
QString NotText(const QByteArray &bytes)
{
    if (bytes.startsWith(QByteArrayView("PK\x03\x04", 4)))
        return QStringLiteral("文件内容是 zip 压缩的电子表格（.xlsx 或 .ods），不是 .csv/.txt 文本；请把扩展名改回 .xlsx 或 .ods 再导入");
    if (bytes.startsWith(QByteArray::fromHex("D0CF11E0A1B11AE1")))
        return QStringLiteral("文件内容是 .xls 电子表格（或有密码的 .xlsx），不是 .csv/.txt 文本；请把扩展名改回 .xls 再导入");
    if (const qsizetype at = bytes.indexOf('\0'); at >= 0)
        return QStringLiteral("文件在第 %1 字节处有 NUL 字节，是二进制文件，不是 .csv/.txt 文本").arg(at + 1);
    return QString();
}

bool ReadText(const QString &path, QList<QStringList> *rows, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    QString text;
    // A spreadsheet application's "Unicode text" is UTF-16 with its byte order mark.
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(bytes.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
        text = utf16.decode(bytes.sliced(2));
    } else {
        if (const QString what = NotText(bytes); !what.isEmpty()) {
            *error = what;
            return false;
        }
        QStringDecoder utf8(QStringDecoder::Utf8);
        text = utf8.decode(bytes);
        if (utf8.hasError()) {
            QStringDecoder gbk("GBK");
            text = gbk.isValid() ? QString(gbk.decode(bytes)) : QString::fromLocal8Bit(bytes);
        }
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const QChar separator = text.left(text.indexOf(QLatin1Char('\n'))).contains(QLatin1Char('\t')) ? QLatin1Char('\t') : QLatin1Char(',');
    QList<QStringList> records;
    int openLine = 0;
    if (!SplitDelimited(text, separator, &records, &openLine)) {
        *error = QStringLiteral("第 %1 行的引号没有配对（到文件末尾也没有结束的引号）").arg(openLine);
        return false;
    }
    *rows = CollectRows(int(records.size()), [&records](int r, int c) { return records[r].value(c); });
    return true;
}

} // namespace

QString TSheetReader::ExtensionOf(const QString &path)
{
    return QFileInfo(path).suffix().toLower();
}

bool TSheetReader::Read(const QString &path, QList<QStringList> *rows, QString *error)
{
    rows->clear();
    const QString extension = ExtensionOf(path);
    // What is there (a folder, nothing, a device) is named before the name's extension is.
    const QFileInfo info(path);
    if (info.isDir()) {
        *error = QStringLiteral("不能打开文件 %1: 是一个文件夹，不是文件").arg(path);
        return false;
    }
    // A pipe or a device would block the reader or never end.
    if (info.exists() && !info.isFile()) {
        *error = QStringLiteral("不能打开文件 %1: 不是普通文件（设备或管道）").arg(path);
        return false;
    }
    if (QFile file(path); !file.open(QIODevice::ReadOnly)) {
        *error = info.exists() ? QStringLiteral("不能打开文件 %1: %2").arg(path, file.errorString())
                               : QStringLiteral("不能打开文件 %1: 文件不存在（%2）").arg(path, file.errorString());
        return false;
    }
    if (!Extensions().contains(extension)) {
        *error = QStringLiteral("不支持的文件类型 \"%1\"：可导入 .xlsx、.xls、.ods、.csv、.txt 文件。").arg(extension);
        return false;
    }
    if (IsPasswordProtected(path)) {
        *error = QFileInfo(path).fileName() + QStringLiteral(": ") + ProtectedText();
        return false;
    }
    bool ok = false;
    if (extension == QLatin1String("xlsx"))
        ok = ReadXlsx(path, rows, error);
    else if (extension == QLatin1String("ods"))
        ok = ReadOds(path, rows, error);
    else if (extension == QLatin1String("xls"))
        ok = ReadXls(path, rows, error);
    else
        ok = ReadText(path, rows, error);
    if (!ok)
        *error = QStringLiteral("不能读取 %1: %2").arg(QFileInfo(path).fileName(), *error);
    return ok;
}

bool TSheetReader::IsPasswordProtected(const QString &path)
{
    const QString extension = ExtensionOf(path);
    if (extension == QLatin1String("xlsx")) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        // Saved with a password, the zip is wrapped, encrypted, in an OLE compound document.
        static const QByteArray CompoundDocument = QByteArray::fromHex("D0CF11E0A1B11AE1");
        if (file.read(8) != CompoundDocument)
            return false;
        const QByteArray streamName = QByteArray::fromRawData(reinterpret_cast<const char *>(u"EncryptedPackage"), 32);
        return file.readAll().contains(streamName);
    }
    if (extension == QLatin1String("xls")) {
        const void *handle = nullptr;
        const int rc = freexl_open(QFile::encodeName(path).constData(), &handle);
        std::unique_ptr<const void, int (*)(const void *)> closer(handle, freexl_close);
        unsigned int obfuscation = 0;
        return rc == FREEXL_OK && freexl_get_info(handle, FREEXL_BIFF_PASSWORD, &obfuscation) == FREEXL_OK
            && obfuscation == FREEXL_BIFF_OBFUSCATED;
    }
    if (extension == QLatin1String("ods")) {
        try {
            orcus::zip_archive_stream_fd stream(QFile::encodeName(path).constData());
            orcus::zip_archive archive(&stream);
            archive.load();
            std::vector<unsigned char> manifest;
            if (!archive.read_file_entry("META-INF/manifest.xml", manifest))
                return false;
            return std::string_view(reinterpret_cast<const char *>(manifest.data()), manifest.size())
                       .find("encryption-data")
                != std::string_view::npos;
        } catch (...) {
            return false; // not a zip: the reader says what is wrong with it
        }
    }
    return false;
}

QString TSheetReader::NumberText(double value)
{
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString TSheetReader::CleanText(const QString &text)
{
    qsizetype start = 0, end = text.size();
    const auto junk = [](QChar c) { return c.isSpace() || c.category() == QChar::Other_Control; };
    while (start < end && junk(text[start]))
        ++start;
    while (end > start && junk(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}
