// Resource ids of the crash dialog, shared by its template and its code.
#pragma once

#define IDR_MAINFRAME 100
#define IDD_CRASH 135
#define IDC_CRASH_ICON 1400
#define IDC_CRASH_PROMPT 1401
