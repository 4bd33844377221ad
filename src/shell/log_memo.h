#pragma once

#include <QPlainTextEdit>

class TLineLog;

// A read-only memo that shows a line log as it grows.
class TLogMemo : public QPlainTextEdit
{
    Q_OBJECT
public:
    TLogMemo(TLineLog &log, QWidget *parent = nullptr);
};
