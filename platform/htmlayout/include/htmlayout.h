/* HTMLayout.dll: the program's HTML and CSS engine. A window of class "HTMLAYOUT-W" shows one
 * document loaded from memory; elements are reached through reference-counted handles.
 * Every call is __stdcall under its plain name and is made on the thread that owns the window.
 * A null or stale element handle is ignored: the call returns HL_INVALID_HANDLE and does nothing. */
#ifndef VELLIX_HTMLAYOUT_H
#define VELLIX_HTMLAYOUT_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef HTMLAYOUT_BUILD
#define HLAPI __stdcall /* the .def file names the exports */
#else
#define HLAPI __declspec(dllimport) __stdcall
#endif

typedef void* HELEMENT;
typedef int HLRESULT;

#define HL_OK 0
#define HL_INVALID_HWND 1
#define HL_INVALID_HANDLE 2
#define HL_PASSIVE_HANDLE 3 /* the element is in no document shown by a window */
#define HL_INVALID_PARAMETER 4
#define HL_FAILED 5

/* Notifications: the callback gets WM_NOTIFY, the window's control id and a pointer to a
 * structure that starts with NMHDR (window, id, code). The answer is ignored; answering a
 * load-data request without calling HTMLayoutDataReady lets the engine load the address itself
 * ("file://" only: web addresses are never fetched by the engine). */
#define HLN_CREATE_CONTROL 2816
#define HLN_LOAD_DATA 2817
#define HLN_CONTROL_CREATED 2818
#define HLN_DATA_LOADED 2819
#define HLN_DOCUMENT_COMPLETE 2820
#define HLN_DESTROY_CONTROL 2822
#define HLN_ATTACH_BEHAVIOR 2823

#define HL_DATA_HTML 0
#define HL_DATA_IMAGE 1
#define HL_DATA_STYLE 2

typedef struct HL_NM_LOAD_DATA {
  NMHDR hdr;          /* code HLN_LOAD_DATA */
  LPCWSTR uri;        /* as the page wrote it, for example "common.css" or "file://C:\\x" */
  UINT dataType;      /* HL_DATA_... */
  HELEMENT principal; /* the img that asked, or 0 for a style sheet */
} HL_NM_LOAD_DATA;

typedef UINT(CALLBACK* HTMLAYOUT_NOTIFY)(UINT msg, WPARAM wParam, LPARAM lParam, LPVOID param);

/* Events: handlers attached to an element see the events of the element and its descendants,
 * innermost element first; a handler returning TRUE ends the event. This engine sends behaviour
 * events only. */
#define HL_GROUP_BEHAVIOR 0x0100
#define HL_GROUP_ALL 0xFFFF

#define HL_BUTTON_STATE_CHANGED 2 /* a check button was toggled by the user; target is the button */
#define HL_HYPERLINK_CLICK 128    /* a link (an element with href) was clicked; target is the link */

typedef struct HL_BEHAVIOR_EVENT {
  UINT cmd;
  HELEMENT target; /* the element the event is about */
  HELEMENT source; /* the element whose handler is called */
  UINT reason;
} HL_BEHAVIOR_EVENT;

typedef BOOL(CALLBACK* HL_EVENT_PROC)(LPVOID tag, HELEMENT he, UINT group, LPVOID params);
/* For element enumerations: return TRUE to stop. */
typedef BOOL(CALLBACK* HL_ELEMENT_CALLBACK)(HELEMENT he, LPVOID param);
/* Receives UTF-8 text, not terminated. */
typedef VOID(CALLBACK* HL_TEXT_RECEIVER)(LPCSTR text, UINT length, LPVOID param);

#define HL_STATE_HOVER 0x02
#define HL_STATE_CHECKED 0x40

#define HL_SCROLL_TO_TOP 0x01
#define HL_SCROLL_SMOOTH 0x10

#define HL_REPLACE_CONTENT 0
#define HL_INSERT_AT_START 1
#define HL_APPEND_AFTER_LAST 2

/* Window and document */
LPCWSTR HLAPI HTMLayoutClassNameW(void);
BOOL HLAPI HTMLayoutSetMediaType(HWND hwnd, LPCWSTR mediaType);
BOOL HLAPI HTMLayoutLoadHtml(HWND hwnd, const BYTE* html, UINT size);
VOID HLAPI HTMLayoutSetCallback(HWND hwnd, HTMLAYOUT_NOTIFY callback, LPVOID param);
BOOL HLAPI HTMLayoutDataReady(HWND hwnd, LPCWSTR uri, LPBYTE data, DWORD size);

/* Elements */
HLRESULT HLAPI HTMLayout_UseElement(HELEMENT he);
HLRESULT HLAPI HTMLayout_UnuseElement(HELEMENT he);
HLRESULT HLAPI HTMLayoutGetRootElement(HWND hwnd, HELEMENT* root);
HLRESULT HLAPI HTMLayoutGetParentElement(HELEMENT he, HELEMENT* parent);
HLRESULT HLAPI HTMLayoutDeleteElement(HELEMENT he);
HLRESULT HLAPI HTMLayoutUpdateElement(HELEMENT he, BOOL remeasure);
HLRESULT HLAPI HTMLayoutScrollToView(HELEMENT he, UINT flags);
HLRESULT HLAPI HTMLayoutIsElementVisible(HELEMENT he, BOOL* visible);
HLRESULT HLAPI HTMLayoutSelectElements(HELEMENT he, LPCSTR selector, HL_ELEMENT_CALLBACK callback, LPVOID param);
/* tag, attribute and value may each be null for "any"; depth 0 visits every level. */
HLRESULT HLAPI HTMLayoutVisitElements(HELEMENT he, LPCSTR tag, LPCSTR attribute, LPCWSTR value,
                                      HL_ELEMENT_CALLBACK callback, LPVOID param, DWORD depth);
/* The text stays valid until the attribute changes or the element goes. */
HLRESULT HLAPI HTMLayoutGetAttributeByName(HELEMENT he, LPCSTR name, LPCWSTR* value);
/* A null value removes the attribute; "" sets it without a value. */
HLRESULT HLAPI HTMLayoutSetAttributeByName(HELEMENT he, LPCSTR name, LPCWSTR value);
/* A null or empty value removes the style set this way. */
HLRESULT HLAPI HTMLayoutSetStyleAttribute(HELEMENT he, LPCSTR name, LPCWSTR value);
HLRESULT HLAPI HTMLayoutSetElementHtml(HELEMENT he, const BYTE* html, DWORD length, UINT where);
HLRESULT HLAPI HTMLayoutSetElementInnerText16(HELEMENT he, LPCWSTR text, UINT length);
HLRESULT HLAPI HTMLayoutGetElementInnerTextCB(HELEMENT he, HL_TEXT_RECEIVER receiver, LPVOID param);
HLRESULT HLAPI HTMLayoutGetElementState(HELEMENT he, UINT* state);
HLRESULT HLAPI HTMLayoutSetElementState(HELEMENT he, UINT bitsToSet, UINT bitsToClear, BOOL update);
HLRESULT HLAPI HTMLayoutAttachEventHandlerEx(HELEMENT he, HL_EVENT_PROC handler, LPVOID tag, UINT subscription);

#ifdef __cplusplus
}
#endif

#endif
