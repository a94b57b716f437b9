// Event sinks for dispatch event interfaces (DWebBrowserEvents2 and the like): a sink map sends each
// event, by dispatch id, to a member function whose parameters are taken from the event's
// arguments by their C++ types (VARIANT*, VARIANT_BOOL*, IDispatch*, IDispatch**, BSTR, long, ...).
// The sink is part of its owner: it is not reference-counted and lives as long as the owner.
#pragma once

#include "wtl/ComPtr.h"

#include <oaidl.h>
#include <ocidl.h>

#include <tuple>
#include <type_traits>
#include <utility>

namespace WTL {

template <class T>
struct SinkEntry {
  UINT id;  // the sink's id, IDispEventImpl's first parameter
  DISPID dispid;
  HRESULT (*invoke)(T* owner, DISPPARAMS* params);
};

namespace sink {

// One argument converted to the handler's parameter type; a coerced copy lives in tmp.
template <class A, class Enable = void>
struct Arg;

inline VARIANT* Deref(VARIANT* v) {
  while (v && v->vt == (VT_BYREF | VT_VARIANT))
    v = v->pvarVal;
  return v;
}

template <>
struct Arg<VARIANT*> {
  HRESULT hr = S_OK;
  VARIANT* value;
  explicit Arg(VARIANT* v) : value(Deref(v)) {}
};

template <>
struct Arg<VARIANT_BOOL*> {
  HRESULT hr = S_OK;
  VARIANT_BOOL* value = nullptr;
  explicit Arg(VARIANT* v) {
    if (v->vt == (VT_BYREF | VT_BOOL))
      value = v->pboolVal;
    else if ((v = Deref(v)) && v->vt == VT_BOOL)
      value = &v->boolVal;
    else
      hr = DISP_E_TYPEMISMATCH;
  }
};

template <>
struct Arg<IDispatch**> {
  HRESULT hr = S_OK;
  IDispatch** value = nullptr;
  explicit Arg(VARIANT* v) {
    if (v->vt == (VT_BYREF | VT_DISPATCH))
      value = v->ppdispVal;
    else if ((v = Deref(v)) && v->vt == VT_DISPATCH)
      value = &v->pdispVal;
    else
      hr = DISP_E_TYPEMISMATCH;
  }
};

// Values: the argument coerced into a temporary of the matching variant type.
template <class A>
struct ValueKind;
template <>
struct ValueKind<IDispatch*> {
  static constexpr VARTYPE vt = VT_DISPATCH;
  static IDispatch* Get(const VARIANT& v) { return v.pdispVal; }
};
template <>
struct ValueKind<IUnknown*> {
  static constexpr VARTYPE vt = VT_UNKNOWN;
  static IUnknown* Get(const VARIANT& v) { return v.punkVal; }
};
template <>
struct ValueKind<BSTR> {
  static constexpr VARTYPE vt = VT_BSTR;
  static BSTR Get(const VARIANT& v) { return v.bstrVal; }
};
template <>
struct ValueKind<long> {
  static constexpr VARTYPE vt = VT_I4;
  static long Get(const VARIANT& v) { return v.lVal; }
};
template <>
struct ValueKind<int> {
  static constexpr VARTYPE vt = VT_I4;
  static int Get(const VARIANT& v) { return static_cast<int>(v.lVal); }
};
template <>
struct ValueKind<unsigned long> {
  static constexpr VARTYPE vt = VT_UI4;
  static unsigned long Get(const VARIANT& v) { return v.ulVal; }
};
template <>
struct ValueKind<unsigned int> {
  static constexpr VARTYPE vt = VT_UI4;
  static unsigned int Get(const VARIANT& v) { return static_cast<unsigned int>(v.ulVal); }
};
template <>
struct ValueKind<VARIANT_BOOL> {
  static constexpr VARTYPE vt = VT_BOOL;
  static VARIANT_BOOL Get(const VARIANT& v) { return v.boolVal; }
};

template <class A>
struct Arg<A, std::void_t<decltype(ValueKind<A>::vt)>> {
  HRESULT hr = S_OK;
  A value{};
  VARIANT tmp;
  explicit Arg(VARIANT* v) {
    ::VariantInit(&tmp);
    hr = ::VariantChangeType(&tmp, v, 0, ValueKind<A>::vt);
    if (SUCCEEDED(hr))
      value = ValueKind<A>::Get(tmp);
  }
  Arg(Arg&& o) noexcept : hr(o.hr), value(o.value), tmp(o.tmp) { o.tmp.vt = VT_EMPTY; }
  Arg(const Arg&) = delete;
  ~Arg() { ::VariantClear(&tmp); }
};

template <class Owner, class C, class R, class... A, size_t... I>
HRESULT Call(Owner* owner, R (C::*fn)(A...), DISPPARAMS* params, std::index_sequence<I...>) {
  if (sizeof...(A) > 0 && (!params || params->cArgs < sizeof...(A)))
    return DISP_E_BADPARAMCOUNT;
  // Arguments arrive last first.
  std::tuple<Arg<std::decay_t<A>>...> args{Arg<std::decay_t<A>>(&params->rgvarg[params->cArgs - 1 - I])...};
  HRESULT hr = S_OK;
  ((hr = SUCCEEDED(hr) ? std::get<I>(args).hr : hr), ...);
  if (FAILED(hr))
    return DISP_E_TYPEMISMATCH;
  C* target = static_cast<C*>(owner);
  if constexpr (std::is_same_v<R, HRESULT>) {
    return (target->*fn)(std::get<I>(args).value...);
  } else {
    (target->*fn)(std::get<I>(args).value...);
    return S_OK;
  }
}

template <class Owner, class C, class R, class... A>
HRESULT Invoke(Owner* owner, R (C::*fn)(A...), DISPPARAMS* params) {
  return Call(owner, fn, params, std::index_sequence_for<A...>());
}

}  // namespace sink

// T lists its handlers with BEGIN_SINK_MAP / SINK_ENTRY(id, dispid, member) / END_SINK_MAP.
template <UINT nID, class T, const IID* pdiid>
class IDispEventImpl : public IDispatch {
public:
  IDispEventImpl() = default;
  IDispEventImpl(const IDispEventImpl&) = delete;
  IDispEventImpl& operator=(const IDispEventImpl&) = delete;
  virtual ~IDispEventImpl() { DispEventUnadvise(); }

  // Connects to the source's connection point for the event interface. A second advise while
  // connected is a program error and answers E_FAIL.
  HRESULT DispEventAdvise(IUnknown* source) {
    if (m_dwEventCookie)
      return E_FAIL;
    if (!source)
      return E_POINTER;
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.PutVoid());
    if (FAILED(hr))
      return hr;
    ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(*pdiid, point.Put());
    if (FAILED(hr))
      return hr;
    DWORD cookie = 0;
    hr = point->Advise(static_cast<IDispatch*>(this), &cookie);
    if (FAILED(hr))
      return hr;
    m_dwEventCookie = cookie;
    m_point = point;
    return S_OK;
  }

  // S_FALSE when not connected.
  HRESULT DispEventUnadvise() {
    if (!m_dwEventCookie)
      return S_FALSE;
    HRESULT hr = m_point ? m_point->Unadvise(m_dwEventCookie) : S_OK;
    m_point.Release();
    m_dwEventCookie = 0;
    return hr;
  }

  bool IsAdvised() const { return m_dwEventCookie != 0; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out)
      return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == *pdiid) {
      *out = static_cast<IDispatch*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count)
      *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info)
      *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  // Events without an entry are acknowledged and ignored.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    for (const SinkEntry<T>* e = T::GetSinkMap(); e->invoke; ++e) {
      if (e->id == nID && e->dispid == dispid)
        return e->invoke(static_cast<T*>(this), params);
    }
    return S_OK;
  }

protected:
  DWORD m_dwEventCookie = 0;

private:
  ComPtr<IConnectionPoint> m_point;
};

}  // namespace WTL

#define BEGIN_SINK_MAP(theClass)                                 \
  static const WTL::SinkEntry<theClass>* GetSinkMap() {          \
    using SinkClass = theClass;                                  \
    static const WTL::SinkEntry<theClass> map[] = {
#define SINK_ENTRY(id, dispid, fn) \
  {(id), (dispid), [](SinkClass* o, DISPPARAMS* p) { return WTL::sink::Invoke(o, &SinkClass::fn, p); }},
#define END_SINK_MAP() \
  {0, DISPID_UNKNOWN, nullptr}                                   \
  }                                                              \
  ;                                                              \
  return map;                                                    \
  }
