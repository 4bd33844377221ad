#include "widgets/messages.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QSpacerItem>
#include <QStandardPaths>

namespace {
// A window icon and up to three buttons, kept clear of a centred title on both sides.
constexpr int TitleBarDecoration = 200;
} // namespace

int TitleBarWidth(const QString &title)
{
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    return QFontMetrics(font).horizontalAdvance(title) + TitleBarDecoration;
}

void KeepTitleWhole(QMessageBox *box)
{
    // The box sizes itself to its layout's minimum width at every showing: a spacer in a row of
    // its own sets that minimum without touching the label's wrapping.
    auto *grid = qobject_cast<QGridLayout *>(box->layout());
    if (!grid)
        return;
    grid->addItem(new QSpacerItem(TitleBarWidth(box->windowTitle()), 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

QMessageBox *OpenMessage(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    auto *box = new QMessageBox(icon, title, text, QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("MessageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    KeepTitleWhole(box);
    box->open();
    return box;
}

QString AskExportFile(QWidget *parent, std::optional<QString> &next, const QString &title, const QString &suggestedName)
{
    QString path;
    if (next) {
        path = *next;
        next.reset();
    } else {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        path = QFileDialog::getSaveFileName(parent, title, folder + QLatin1Char('/') + suggestedName,
                                            QStringLiteral("Excel (*.xlsx)"));
    }
    return path;
}
