// The normal mode of the program, from the application context to the end of the message loop.
#pragma once

// Exit code when the main window cannot be created (under Wine without a display, say).
const int kNoMainWindow = 3;

int RunApplication(int show);
