#include "directory/sheet_reader.h"

#include "directory/xlsx_sheet.h"

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

QStringList SplitCsvLine(const QString &line, QChar separator)
{
    QStringList cells;
    QString cell;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                cell += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == QLatin1Char('"') && cell.trimmed().isEmpty()) {
            quoted = true;
            cell.clear();
        } else if (c == separator) {
            cells << cell;
            cell.clear();
        } else {
            cell += c;
        }
    }
    cells << cell;
    return cells;
}

bool ReadText(const QString &path, QList<QStringList> *rows, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        QStringDecoder gbk("GBK");
        text = gbk.isValid() ? QString(gbk.decode(bytes)) : QString::fromLocal8Bit(bytes);
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const QStringList lines = text.split(QLatin1Char('\n'));
    const QChar separator = lines.value(0).contains(QLatin1Char('\t')) ? QLatin1Char('\t') : QLatin1Char(',');
    *rows = CollectRows(int(lines.size()), [&lines, separator](int r, int c) {
        QString line = lines[r];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        return SplitCsvLine(line, separator).value(c);
    });
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
    if (!Extensions().contains(extension)) {
        *error = QStringLiteral("不支持的文件类型 \"%1\"：可导入 .xlsx、.xls、.ods、.csv、.txt 文件。").arg(extension);
        return false;
    }
    if (!QFileInfo(path).isFile() || !QFileInfo(path).isReadable()) {
        *error = QStringLiteral("不能打开文件 %1").arg(path);
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
