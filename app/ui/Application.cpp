// The normal mode of the program: the application context, the database, the language, crash
// handling, and the main window's message loop.
#include "Application.h"

#include "AppContext.h"
#include "AppDatabase.h"
#include "CrashReport.h"
#include "GrabDlg.h"
#include "LanguageTranslator.h"
#include "MainFrame.h"
#include "wtl/MessageLoop.h"
#include "wtl/Module.h"
#include "wtl/Seams.h"

#include <common/Log.h>

namespace {

void ApplyLanguage(AppContext& context) {
    AppDatabase& db = context.Database();
    Brimholt::LanguageTranslator& translator = context.Translator();
    std::string code = db.GetConfig("Language");
    if (code.empty()) {
        db.SetConfig("Language", translator.CurrentCode().c_str());
        return;
    }
    if (translator.LoadLanguageFile(code))
        return;
    code = translator.BuiltInCode();
    translator.LoadLanguageFile(code);
    db.SetConfig("Language", code.c_str());
}

}  // namespace

int RunApplication(int show) {
    AppContext context;
    if (!context.Database().Open()) {
        Brimholt::LanguageTranslator& texts = context.Translator();
        WTL::ShowMessageBox(nullptr, texts.Text(L"Messages", L"OpenDBFailed").c_str(),
                            texts.Text(L"Global", L"Error").c_str(), MB_ICONERROR);
        return 1;
    }
    ApplyLanguage(context);
    InstallGrabDialogs();
    InstallCrashDumper();

    WTL::CMessageLoop loop;
    WTL::AppModule().AddMessageLoop(&loop);
    int result = kNoMainWindow;
    {
        CMainFrame frame;
        if (frame.CreateFrame()) {
            frame.ShowWindow(show);
            result = loop.Run();
        } else {
            Brimholt::Log << "Cannot create the main window: " << GetLastError() << std::endl;
        }
    }
    WTL::AppModule().RemoveMessageLoop();
    return result;
}
