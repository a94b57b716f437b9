// C++ faces of the engine's two callbacks: an event handler attached to an element, and the
// handler of a window's notifications. The static functions are the trampolines the engine calls;
// they must be plain stdcall functions (a lambda does not convert to one on i686).
#ifndef VELLIX_HTMLAYOUT_HANDLERS_H
#define VELLIX_HTMLAYOUT_HANDLERS_H

#include "htmlayout.h"

namespace htmlayout {

// The engine sends behaviour events only: link clicks and check buttons.
class event_handler {
public:
  virtual ~event_handler() = default;
  // True ends the event; false lets it bubble on to the handlers of the parents.
  virtual bool handle_event(HELEMENT he, HL_BEHAVIOR_EVENT& params) { return false; }

  // The engine keeps the handler as long as the element lives: the handler must outlive the
  // element's document (a window's own page goes with its window).
  bool attach_event_handler(HELEMENT he, UINT subscription = HL_GROUP_ALL) {
    return HTMLayoutAttachEventHandlerEx(he, &element_proc, this, subscription) == HL_OK;
  }

  static BOOL CALLBACK element_proc(LPVOID tag, HELEMENT he, UINT group, LPVOID params) {
    auto* self = static_cast<event_handler*>(tag);
    if (!self || !params || group != HL_GROUP_BEHAVIOR) return FALSE;
    return self->handle_event(he, *static_cast<HL_BEHAVIOR_EVENT*>(params)) ? TRUE : FALSE;
  }
};

// Notification codes beyond those the engine's header names.
enum : UINT {
  HLN_DOCUMENT_LOADED = 2825,
  HLN_DIALOG_CREATED = 2826,
  HLN_DIALOG_CLOSE_RQ = 2831,
};

// T is the host whose object the engine is given with the callback. Every notification answers 0
// unless a host overrides it.
template <class T>
class notification_handler {
public:
  virtual ~notification_handler() = default;
  virtual UINT on_create_control(NMHDR*) { return 0; }
  virtual UINT on_control_created(NMHDR*) { return 0; }
  virtual UINT on_destroy_control(NMHDR*) { return 0; }
  virtual UINT on_load_data(HL_NM_LOAD_DATA*) { return 0; }
  virtual UINT on_data_loaded(NMHDR*) { return 0; }
  virtual UINT on_document_complete(NMHDR*) { return 0; }
  virtual UINT on_document_loaded(NMHDR*) { return 0; }
  virtual UINT on_attach_behavior(NMHDR*) { return 0; }
  virtual UINT on_dialog_created(NMHDR*) { return 0; }
  virtual UINT on_dialog_close_rq(NMHDR*) { return 0; }

  // Sends the window's notifications to this object until the window goes.
  void setup_callback(HWND engine) { HTMLayoutSetCallback(engine, &callback, static_cast<T*>(this)); }

  static UINT CALLBACK callback(UINT msg, WPARAM, LPARAM lp, LPVOID param) {
    auto* hdr = reinterpret_cast<NMHDR*>(lp);
    if (msg != WM_NOTIFY || !hdr || !param) return 0;
    notification_handler* self = static_cast<T*>(param);
    switch (hdr->code) {
      case HLN_CREATE_CONTROL:
        return self->on_create_control(hdr);
      case HLN_CONTROL_CREATED:
        return self->on_control_created(hdr);
      case HLN_DESTROY_CONTROL:
        return self->on_destroy_control(hdr);
      case HLN_LOAD_DATA:
        return self->on_load_data(reinterpret_cast<HL_NM_LOAD_DATA*>(hdr));
      case HLN_DATA_LOADED:
        return self->on_data_loaded(hdr);
      case HLN_DOCUMENT_COMPLETE:
        return self->on_document_complete(hdr);
      case HLN_DOCUMENT_LOADED:
        return self->on_document_loaded(hdr);
      case HLN_ATTACH_BEHAVIOR:
        return self->on_attach_behavior(hdr);
      case HLN_DIALOG_CREATED:
        return self->on_dialog_created(hdr);
      case HLN_DIALOG_CLOSE_RQ:
        return self->on_dialog_close_rq(hdr);
      default:
        return 0;
    }
  }
};

}  // namespace htmlayout

#endif
