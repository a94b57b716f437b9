// The world of the step tests: one program folder and one application context for the whole test
// executable (observer ids are never reused, so only the first window of the process can be
// observer 0), a test window as observer 0 that records what the steps send the main frame, and
// the seams of message boxes, the shell and the example dialog answered by the test.
#pragma once

#include "ServiceTestSupport.h"

#include <Messages.h>

#include <string>
#include <vector>

struct SeenBox {
    std::wstring text;
    int flags = 0;
    bool sent = false;  // SendTo (kept, answered) rather than PostTo
};

struct SeenGrab {
    std::wstring comic;
    std::vector<VolumeItem> volumes;
    std::shared_ptr<CParseContext> context;
};

// Observer 0: subscribes "message_box", "grab" and "execute" and records them. Boxes are shown
// through the window layer's seam, which answers with `answer` and records the call.
class FrameRecorder {
public:
    void OnMessageBox(msg_message_box* msg);
    void OnGrab(msg_grab* msg);
    void OnExecute(msg_execute* msg);
    void Clear();

    TestObserver window;
    std::vector<SeenBox> boxes;
    std::vector<SeenGrab> grabs;
    std::vector<std::wstring> executes;
    std::vector<std::wstring> shellOpens;
    std::vector<std::wstring> examples;
    std::vector<std::string> redirects;
    int answer = IDNO;
    int exampleAnswer = 2;
};

struct StepsWorld {
    std::unique_ptr<ScopedAppFolder> folder;
    std::unique_ptr<AppContext> ctx;
    FrameRecorder frame;
    bool debugIni = false;
};

// Set up by the test environment before the first test.
StepsWorld& World();
// True when this run has a "debug.ini" (the environment variable VELLIX_UI_TEST_DEBUG_INI=1).
bool DebugRun();
// Back to a clean state between tests: the service's rules and log, the frame's records, the
// seams, no loaded or cached script, the time-out and start seam, the catalogue loaded.
void ResetWorld();
// Forgets every loaded and cached script, so the next preload downloads it again.
void ForgetScripts();

// The service's log entries of a path, and one text field of entry i ("headers", "query" or
// "form" dictionary, member name); "" when absent.
std::string LogMember(const std::string& path, int index, const char* dict, const char* name);
