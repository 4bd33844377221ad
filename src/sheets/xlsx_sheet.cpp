#include "sheets/xlsx_sheet.h"

#include <QDir>
#include <QFile>
#include <QXmlStreamReader>

#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>

#include <exception>
#include <vector>

namespace {

// The parts of the zip, found by name without regard to case as part names are.
class TPackage
{
public:
    explicit TPackage(const QString &path)
        : Stream(QFile::encodeName(path).constData()), Archive(&Stream)
    {
        Archive.load();
        for (std::size_t i = 0; i < Archive.get_file_entry_count(); ++i) {
            const std::string_view name = Archive.get_file_entry_name(i);
            Names.insert(QString::fromUtf8(name.data(), qsizetype(name.size())).toLower(), std::string(name));
        }
    }

    bool Part(const QString &name, QByteArray *bytes) const
    {
        const auto found = Names.constFind(name.toLower());
        if (found == Names.constEnd())
            return false;
        std::vector<unsigned char> buffer;
        if (!Archive.read_file_entry(*found, buffer))
            return false;
        // The archive ends each entry with a NUL of its own.
        std::size_t size = buffer.size();
        while (size > 0 && buffer[size - 1] == 0)
            --size;
        *bytes = QByteArray(reinterpret_cast<const char *>(buffer.data()), qsizetype(size));
        return true;
    }

private:
    orcus::zip_archive_stream_fd Stream;
    orcus::zip_archive Archive;
    QHash<QString, std::string> Names;
};

struct TRelation
{
    QString Type; // the last segment of the type's URI: "worksheet", "sharedStrings", …
    QString Target; // the part's name in the zip
};

QString FolderOf(const QString &part)
{
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : part.left(slash + 1);
}

// The relations of a part, by Id; targets made into part names (absolute ones start at the root).
QHash<QString, TRelation> RelationsOf(const TPackage &package, const QString &part)
{
    QHash<QString, TRelation> relations;
    QByteArray bytes;
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    if (!package.Part(FolderOf(part) + QStringLiteral("_rels/") + part.mid(slash + 1) + QStringLiteral(".rels"), &bytes))
        return relations;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != QLatin1String("Relationship"))
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        const QString target = a.value(QLatin1String("Target")).toString();
        TRelation relation;
        relation.Type = a.value(QLatin1String("Type")).toString().section(QLatin1Char('/'), -1);
        relation.Target = QDir::cleanPath(target.startsWith(QLatin1Char('/')) ? target.mid(1) : FolderOf(part) + target);
        relations.insert(a.value(QLatin1String("Id")).toString(), relation);
    }
    return relations;
}

// The text of an <si> or <is> element the reader stands on: its <t> texts, in runs or not,
// without those of phonetic guides. Leaves the reader on the element's end.
QString RichText(QXmlStreamReader &xml)
{
    QString text;
    int depth = 1;
    while (depth > 0 && !xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            if (xml.name() == QLatin1String("t"))
                text += xml.readElementText(QXmlStreamReader::IncludeChildElements);
            else if (xml.name() == QLatin1String("rPh"))
                xml.skipCurrentElement();
            else
                ++depth;
            break;
        case QXmlStreamReader::EndElement: --depth; break;
        default: break;
        }
    }
    return TXlsxSheet::Unescape(text);
}

QStringList SharedStrings(const QByteArray &bytes, QString *error)
{
    QStringList strings;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("si"))
            strings << RichText(xml); // every entry takes its place, an empty one too
    }
    if (xml.hasError())
        *error = QStringLiteral("共享文字表有误: %1").arg(xml.errorString());
    return strings;
}

// "C12" as 0-based column and row; false when it is no cell reference.
bool CellReference(QStringView reference, int *column, int *row)
{
    qsizetype i = 0;
    int c = 0, r = 0;
    for (; i < reference.size() && reference[i].isLetter(); ++i) {
        c = c * 26 + (reference[i].toUpper().unicode() - 'A' + 1);
        if (c > 16384)
            return false;
    }
    for (qsizetype d = i; d < reference.size(); ++d) {
        if (!reference[d].isDigit() || r > 1048576)
            return false;
        r = r * 10 + reference[d].digitValue();
    }
    if (c == 0 || r == 0 || i == reference.size())
        return false;
    *column = c - 1;
    *row = r - 1;
    return true;
}

} // namespace

QString TXlsxSheet::Unescape(const QString &text)
{
    if (!text.contains(QLatin1String("_x")))
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        bool ok = false;
        if (text[i] == QLatin1Char('_') && i + 6 < text.size() && text[i + 1] == QLatin1Char('x') && text[i + 6] == QLatin1Char('_')) {
            const ushort code = QStringView(text).mid(i + 2, 4).toUShort(&ok, 16);
            if (ok) {
                out += QChar(code);
                i += 6;
            }
        }
        if (!ok)
            out += text[i];
    }
    return out;
}

bool TXlsxSheet::Read(const QString &path, int columns, QHash<int, TRow> *rows, int *rowCount, QString *error)
{
    rows->clear();
    *rowCount = 0;
    try {
        const TPackage package(path);
        QString workbook = QStringLiteral("xl/workbook.xml");
        for (const TRelation &relation : RelationsOf(package, QString()))
            if (relation.Type == QLatin1String("officeDocument"))
                workbook = relation.Target;
        QByteArray bytes;
        if (!package.Part(workbook, &bytes)) {
            *error = QStringLiteral("文件中没有工作簿");
            return false;
        }
        QString sheetId;
        for (QXmlStreamReader xml(bytes); sheetId.isEmpty() && !xml.atEnd();) {
            if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != QLatin1String("sheet"))
                continue;
            for (const QXmlStreamAttribute &a : xml.attributes())
                if (a.name() == QLatin1String("id") && !a.namespaceUri().isEmpty())
                    sheetId = a.value().toString();
        }
        const QHash<QString, TRelation> relations = RelationsOf(package, workbook);
        if (sheetId.isEmpty() || !relations.contains(sheetId) || !package.Part(relations[sheetId].Target, &bytes)) {
            *error = QStringLiteral("文件中没有工作表");
            return false;
        }
        const QByteArray sheet = bytes;
        QStringList shared;
        for (const TRelation &relation : relations) {
            if (relation.Type == QLatin1String("sharedStrings") && package.Part(relation.Target, &bytes)) {
                shared = SharedStrings(bytes, error);
                if (!error->isEmpty())
                    return false;
            }
        }

        QXmlStreamReader xml(sheet);
        int row = -1, column = -1;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("row")) {
                bool ok = false;
                const int given = xml.attributes().value(QLatin1String("r")).toInt(&ok);
                row = ok && given > 0 ? given - 1 : row + 1;
                column = -1;
                continue;
            }
            if (xml.name() != QLatin1String("c"))
                continue;
            const QXmlStreamAttributes a = xml.attributes();
            int cellRow = row;
            if (!CellReference(a.value(QLatin1String("r")), &column, &cellRow))
                ++column;
            const QStringView type = a.value(QLatin1String("t"));
            QString value, inlineText;
            bool inlineSeen = false;
            while (!xml.atEnd() && !(xml.readNext() == QXmlStreamReader::EndElement && xml.name() == QLatin1String("c"))) {
                if (!xml.isStartElement())
                    continue;
                if (xml.name() == QLatin1String("v"))
                    value = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                else if (xml.name() == QLatin1String("is")) {
                    inlineText = RichText(xml);
                    inlineSeen = true;
                } else
                    xml.skipCurrentElement();
            }
            if (column >= columns || cellRow < 0)
                continue;
            TCell cell;
            if (type == QLatin1String("s")) {
                bool ok = false;
                const int index = value.toInt(&ok);
                cell.Value = ok && index >= 0 && index < shared.size() ? shared[index] : QString();
            } else if (type == QLatin1String("inlineStr")) {
                cell.Value = inlineSeen ? inlineText : value;
            } else if (type == QLatin1String("str") || type == QLatin1String("d")) {
                cell.Value = value;
            } else if (type == QLatin1String("b")) {
                cell.Kind = TCell::Boolean;
                cell.Value = value;
            } else if (type == QLatin1String("e") || value.isEmpty()) {
                continue; // an error value or a cell with a format only: nothing to read
            } else {
                cell.Kind = TCell::Number;
                cell.Value = value;
            }
            TRow &cells = (*rows)[cellRow];
            if (cells.isEmpty())
                cells.resize(columns);
            cells[column] = cell;
            *rowCount = qMax(*rowCount, cellRow + 1);
        }
        if (xml.hasError()) {
            *error = QStringLiteral("工作表有误: %1 (第 %2 行)").arg(xml.errorString(), QString::number(xml.lineNumber()));
            return false;
        }
        return true;
    } catch (const std::exception &e) {
        *error = QString::fromUtf8(e.what());
    } catch (...) {
    }
    if (error->isEmpty())
        *error = QStringLiteral("文件已损坏或不是电子表格");
    return false;
}
