// The dialogs of a grab as msg_grab::Run sees them: the grab dialog turns the chosen volumes into
// image lists, the grab-failed dialog asks whether to keep what succeeded. The user interface
// installs them; until it does, Run has no way to grab and does nothing.
#pragma once

#include "DownloadRecords.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

struct GrabOutcome {
    int code = 1;                     // the grab dialog's end: 1 done (or cancelled), 2 a volume failed
    std::vector<TaskItem> results;    // one per volume attempted, in order
    std::vector<int> itemOf;          // the GrabItem of each result
    std::map<std::string, std::string> volumeRecords;  // comic address -> JSON text of its records
    std::wstring failedName;          // comic and volume name of the volume that failed
};

typedef void (*GrabDialogFn)(HWND owner, const std::vector<GrabItem>& items, GrabOutcome& outcome);
typedef int (*GrabFailedDialogFn)(HWND owner, const GrabOutcome& outcome);

void SetGrabDialogs(GrabDialogFn grab, GrabFailedDialogFn failed);
