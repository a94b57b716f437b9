// The initialisation step: fetches the service configuration (the site catalogue) inside the info
// bar and ends it with 1 (go on) or 2 (failure; 1 with developer settings).
#pragma once

#include "InfoBar.h"

#include <Dornet.h>

#include <string>

class CInitDlg : public VxInfoObserver, public Orvane::OvRequest::Client {
public:
    void Start() override;
    void OnWorkDone() override;
    void OnResponse(const Orvane::OvResponse& response) override;

    std::string error;  // the answer's "Error-Info", empty when none

private:
    // 2, or 1 when the developer settings exist.
    static int FailureResult();
};
