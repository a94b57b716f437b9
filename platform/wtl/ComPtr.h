// An owning COM interface pointer.
#pragma once

#include <objbase.h>

namespace WTL {

template <class I>
class ComPtr {
public:
  ComPtr() = default;
  ComPtr(I* p) : p_(p) {
    if (p_)
      p_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ~ComPtr() { Release(); }
  ComPtr& operator=(const ComPtr& o) {
    if (o.p_)
      o.p_->AddRef();
    Release();
    p_ = o.p_;
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) {
      Release();
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }

  I* Get() const { return p_; }
  I* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out-parameters: releases what is held first.
  I** Put() {
    Release();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  void Release() {
    if (p_) {
      I* p = p_;
      p_ = nullptr;
      p->Release();
    }
  }
  // Hands the reference to the caller.
  I* Detach() {
    I* p = p_;
    p_ = nullptr;
    return p;
  }
  template <class Q>
  HRESULT As(ComPtr<Q>& out) const {
    if (!p_)
      return E_POINTER;
    return p_->QueryInterface(__uuidof(Q), out.PutVoid());
  }

private:
  I* p_ = nullptr;
};

}  // namespace WTL
