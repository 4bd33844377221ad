#pragma once

#include "app/main_form.h"
#include "support/test_support.h"
#include "widgets/qt_texts.h"

#include <QTemporaryDir>
#include <memory>

// The program with its main window, started in a fresh folder for every window test.
struct TWindowFixture
{
    std::unique_ptr<QTemporaryDir> Dir;
    TRecordingPlayer Player;
    std::unique_ptr<TVarnexCore> Core;
    std::unique_ptr<TMainForm> Form;

    // Stops the program and makes a new, empty program folder.
    void NewFolder()
    {
        StopProgram();
        Dir = std::make_unique<QTemporaryDir>();
    }
    void StartProgram(const QStringList &settings = {})
    {
        UseChineseQtTexts(); // as the program does
        Core = TestSupport::StartCore(*Dir, settings, &Player);
        Form = std::make_unique<TMainForm>(*Core);
    }
    void StopProgram()
    {
        Form.reset();
        Core.reset();
    }
};
