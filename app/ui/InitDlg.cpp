// The initialisation step. Every path ends the bar exactly once: the completion, or a request
// that never started, or a work thread that could not be made.
#include "InitDlg.h"

#include "AppContext.h"
#include "DebugSettings.h"
#include "LanguageTranslator.h"
#include "ScriptCatalog.h"
#include "ServiceApi.h"

#include <common/Log.h>

#include <memory>

int CInitDlg::FailureResult() {
    AppContextRef ctx;
    return ctx && ctx->Debug().present ? 1 : 2;
}

void CInitDlg::Start() {
    SetInfo(L"Initializing");
    if (!VxInfoBar::StartWork(this))
        EndDialog(FailureResult());
}

void CInitDlg::OnWorkDone() {
    AppContext* ctx = GetAppContext();
    if (!ctx) {
        EndDialog(2);
        return;
    }
    std::string address = ConfigUrl(ctx->Translator().BuiltInCode());
    Orvane::OvRequest* request = nullptr;
    try {
        request = Orvane::OvRequest::CreateInstance(address.c_str(), *this, nullptr);
    } catch (const std::bad_alloc&) {
        request = nullptr;
    }
    if (!request) {
        EndDialog(2);
        return;
    }
    PrepareConfigRequest(request, ctx->Debug().SysProxy);
    request->SetTimeout(StepRequestTimeout());
    int started = StartStepRequest(request);
    if (started != Orvane::kStarted) {
        // The request has deleted itself and the client is never called.
        Brimholt::Log << "The configuration request did not start: " << started << std::endl;
        EndDialog(FailureResult());
    }
}

void CInitDlg::OnResponse(const Orvane::OvResponse& response) {
    ConfigAnswer answer = ReadConfigAnswer(response);
    int result = FailureResult();
    switch (answer.outcome) {
        case kConfigCatalogue: {
            error = answer.errorInfo;
            AppContextRef ctx;
            if (ctx)
                ctx->Catalog().Load(std::make_shared<std::string>(std::move(answer.body)));
            result = 1;
            break;
        }
        case kConfigNoCatalogue:
            result = 1;
            break;
        case kConfigNotFound:
            error = answer.errorInfo;
            break;
        case kConfigFailed:
            break;
    }
    EndDialog(result);  // the last touch of this step on this thread
}
