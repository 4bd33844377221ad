#!/usr/bin/env python3
# Writes directory-inline-strings.xlsx: a directory sheet whose texts are stored the ways
# streaming writers and other spreadsheet programs store them, mixed in one sheet: shared
# strings (plain, rich-text runs, a phonetic guide, an empty one), inline strings (plain,
# rich-text runs, blanks kept with xml:space), a text formula's cached result, a number stored
# as text, and a row whose cells carry no reference. The zip is made by hand, part by part.
#
#   python3 make-inline-strings.py directory-inline-strings.xlsx
import sys
import zipfile
from xml.sax.saxutils import escape

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"

HEADINGS = ["序号", "分机号码", "分机名称", "安装地址", "所属组号1", "所属组号2", "所属组号3",
            "所属组号4", "所属组号5", "所属组号6", "所属组号7", "所属组号8", "状态", "备注"]

# The shared string table, in the order a writer met the texts (not the rows' order).
SHARED = [
    "<si><t>序号</t></si>",                                            # 0
    "<si><t>分机号码</t></si>",                                        # 1
    "<si><t>分机名称</t></si>",                                        # 2
    "<si><t>新装</t></si>",                                            # 3
    "<si><t>调度台</t></si>",                                          # 4
    # rich text: two runs, the second bold
    "<si><r><t>绞车</t></r><r><rPr><b/><sz val=\"11\"/></rPr><t>房</t></r></si>",  # 5
    "<si><t>地面</t></si>",                                            # 6
    # a phonetic guide: its text is not part of the cell's text
    "<si><t>变电所</t><rPh sb=\"0\" eb=\"3\"><t>biandiansuo</t></rPh>"
    "<phoneticPr fontId=\"1\" type=\"noConversion\"/></si>",           # 7
    "<si><t>回风井</t></si>",                                          # 8
    "<si><t/></si>",                                                   # 9: an empty text
    "<si><t>水泵房</t></si>",                                          # 10
    "<si><t>采区</t></si>",                                            # 11
]
SHARED += ["<si><t>%s</t></si>" % escape(h) for h in HEADINGS[4:13]]  # 12..20


def col(c):
    return "ABCDEFGHIJKLMN"[c]


def s(r, c, index):
    return '<c r="%s%d" t="s"><v>%d</v></c>' % (col(c), r, index)


def inline(r, c, text, space=False):
    t = '<t xml:space="preserve">' if space else "<t>"
    return '<c r="%s%d" t="inlineStr"><is>%s%s</t></is></c>' % (col(c), r, t, escape(text))


def inline_runs(r, c, first, second):
    return ('<c r="%s%d" t="inlineStr"><is><r><t>%s</t></r><r><rPr><i/></rPr><t>%s</t></r></is></c>'
            % (col(c), r, escape(first), escape(second)))


def n(r, c, value):
    return '<c r="%s%d"><v>%s</v></c>' % (col(c), r, value)


rows = [
    # headings: shared, two of them inline
    [s(1, 0, 0), s(1, 1, 1), s(1, 2, 2), inline(1, 3, "安装地址")] + [s(1, 4 + i, 12 + i) for i in range(9)]
    + [inline(1, 13, "备注")],
    [n(2, 0, 1), n(2, 1, 3001), s(2, 2, 4), inline(2, 3, "主井口"), n(2, 4, 1), n(2, 12, 0), inline(2, 13, "井下电话")],
    [n(3, 0, 2), n(3, 1, 3002), s(3, 2, 5), inline(3, 3, "副井"), n(3, 4, 2), n(3, 12, 0), s(3, 13, 6)],
    [n(4, 0, 3), n(4, 1, 3003), s(4, 2, 7), inline_runs(4, 3, "中央", "泵房"), n(4, 4, 1), n(4, 12, 0),
     '<c r="N4" t="str"><f>"备"&amp;"用"</f><v>备用</v></c>'],
    [n(5, 0, 4), n(5, 1, 3004), inline(5, 2, "风机房"), s(5, 3, 8), n(5, 4, 3), n(5, 12, 0), s(5, 13, 9)],
    [n(6, 0, 5), inline(6, 1, "3005"), s(6, 2, 10), inline(6, 3, "  井底车场 ", space=True), n(6, 4, 2),
     n(6, 12, 0), inline(6, 13, "井下")],
    # cells without a reference, one after another from column A
    ["<c><v>6</v></c>", "<c><v>3006</v></c>", '<c t="s"><v>11</v></c>',
     '<c t="inlineStr"><is><t>工作面</t></is></c>', "<c><v>4</v></c>"] + ["<c/>"] * 7
    + ["<c><v>1</v></c>", '<c t="s"><v>3</v></c>'],
]
sheet_rows = []
for i, cells in enumerate(rows):
    attr = ' r="%d"' % (i + 1) if i < len(rows) - 1 else ""
    sheet_rows.append("<row%s>%s</row>" % (attr, "".join(cells)))

XML = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
parts = {
    "[Content_Types].xml": XML + (
        '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
        '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
        '<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>'
        '</Types>'),
    "_rels/.rels": XML + (
        '<Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.xml"/>'
        '</Relationships>' % (PKG, REL)),
    "xl/workbook.xml": XML + (
        '<workbook xmlns="%s" xmlns:r="%s"><sheets><sheet name="电话号码" sheetId="1" r:id="rId1"/></sheets>'
        '</workbook>' % (MAIN, REL)),
    "xl/_rels/workbook.xml.rels": XML + (
        '<Relationships xmlns="%s">'
        '<Relationship Id="rId1" Type="%s/worksheet" Target="worksheets/sheet1.xml"/>'
        '<Relationship Id="rId2" Type="%s/sharedStrings" Target="/xl/sharedStrings.xml"/>'
        '</Relationships>' % (PKG, REL, REL)),
    "xl/worksheets/sheet1.xml": XML + (
        '<worksheet xmlns="%s"><dimension ref="A1:N7"/><sheetData>%s</sheetData></worksheet>'
        % (MAIN, "".join(sheet_rows))),
    "xl/sharedStrings.xml": XML + (
        '<sst xmlns="%s" count="%d" uniqueCount="%d">%s</sst>' % (MAIN, len(SHARED), len(SHARED), "".join(SHARED))),
}

with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for name, text in parts.items():
        info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, text.encode("utf-8"))
