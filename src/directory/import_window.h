#pragma once

#include <QDialog>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class TNumberImport;

// The number import: choose a directory file, give the import a label, and start it. The
// count and the bar follow every row; the window stays responsive during a long import.
class TFrloadNo : public QDialog
{
    Q_OBJECT
public:
    TFrloadNo(TNumberImport &import, QWidget *parent = nullptr);

    static QString FileFilter();
    // "浏览...": a file chooser for the formats read.
    void BrowseClick();
    // "开始导入".
    void StartImport();

    // Answers the next file chooser instead of showing it (for tests).
    std::optional<QString> NextFileName;
    // The last message shown to the operator.
    QString LastMessage;

    QLineEdit *PathEdit;
    QPushButton *BrowseButton;
    QProgressBar *Progress;
    QLabel *CountLabel;
    QPushButton *StartButton;
    QPushButton *ExitButton;
    QComboBox *LabelBox;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void Tell(const QString &text, bool warning);

    TNumberImport &Import;
};
