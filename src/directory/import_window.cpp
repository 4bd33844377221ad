#include "directory/import_window.h"

#include "widgets/messages.h"

#include "directory/number_import.h"
#include "widgets/editable_list.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

TFrloadNo::TFrloadNo(TNumberImport &import, QWidget *parent)
    : QDialog(parent), Import(import)
{
    setObjectName(QStringLiteral("TFrloadNo"));
    setWindowTitle(QStringLiteral("导入号码"));
    setFixedSize(482, 110);
    PathEdit = new QLineEdit(this);
    PathEdit->setReadOnly(true);
    BrowseButton = new QPushButton(QStringLiteral("浏览..."), this);
    Progress = new QProgressBar(this);
    Progress->setRange(0, 100);
    Progress->setValue(0);
    CountLabel = new QLabel(QStringLiteral("导入数量:0"), this);
    StartButton = new QPushButton(QStringLiteral("开始导入"), this);
    ExitButton = new QPushButton(QStringLiteral("退出"), this);
    LabelBox = NewEditableList({QStringLiteral("无")}, QString(), QStringLiteral("LabelBox"), QString(), this);

    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(new QLabel(QStringLiteral("选择文件："), this));
    fileRow->addWidget(PathEdit, 1);
    fileRow->addWidget(BrowseButton);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(CountLabel);
    bottom->addStretch();
    bottom->addWidget(StartButton);
    bottom->addWidget(ExitButton);
    bottom->addWidget(new QLabel(QStringLiteral("标注:"), this));
    // Wide enough for a date such as the preset "2026/12/10" in any locale's short format.
    LabelBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    LabelBox->setMinimumContentsLength(11);
    bottom->addWidget(LabelBox);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(fileRow);
    layout->addWidget(Progress);
    layout->addLayout(bottom);

    connect(BrowseButton, &QPushButton::clicked, this, &TFrloadNo::BrowseClick);
    connect(StartButton, &QPushButton::clicked, this, &TFrloadNo::StartImport);
    connect(ExitButton, &QPushButton::clicked, this, &QDialog::accept);
}

QString TFrloadNo::FileFilter()
{
    return QStringLiteral("电话号码文件 (*.xlsx *.xls *.ods *.csv *.txt);;*.xlsx;;*.xls;;*.ods;;*.csv;;*.txt");
}

void TFrloadNo::BrowseClick()
{
    QString path;
    if (NextFileName) {
        path = *NextFileName;
        NextFileName.reset();
    } else {
        path = QFileDialog::getOpenFileName(this, QStringLiteral("选择文件"), PathEdit->text(), FileFilter());
    }
    if (path.isEmpty())
        return;
    PathEdit->setText(path);
    // The file is chosen: Enter now starts the import.
    BrowseButton->setDefault(false);
    StartButton->setDefault(true);
    StartButton->setFocus();
}

void TFrloadNo::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Each opening starts afresh: no bar and count of the last run, Enter chooses a file.
    Progress->setValue(0);
    CountLabel->setText(QStringLiteral("导入数量:0"));
    StartButton->setDefault(false);
    BrowseButton->setDefault(true);
    BrowseButton->setFocus();
}

void TFrloadNo::StartImport()
{
    Progress->setValue(0);
    StartButton->setEnabled(false);
    QElapsedTimer sinceRepaint;
    sinceRepaint.start();
    const auto outcome = Import.Run(PathEdit->text(), LabelBox->currentText(), [&](int done, int total) {
        CountLabel->setText(QStringLiteral("导入数量:%1").arg(done));
        Progress->setValue(int(std::nearbyint(done * 100.0 / total)));
        // Keep the window painted and the links served during a long import.
        if (sinceRepaint.elapsed() > 50) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            sinceRepaint.restart();
        }
    });
    StartButton->setEnabled(true);
    Tell(outcome.Message(), !outcome.Error.isEmpty() || outcome.Refused > 0);
}

void TFrloadNo::Tell(const QString &text, bool warning)
{
    LastMessage = text;
    OpenMessage(this, warning ? QMessageBox::Warning : QMessageBox::Information, QStringLiteral("提示信息"), text);
}
