// GDI+ decodes; the engine scales the pixels itself (bilinear up, area average down) and draws
// them with AlphaBlend. GDI+ drawing is not used: under Wine it leaves the first row and column
// of the destination empty.
#include "Images_win.h"

#include <objidl.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <gdiplus.h>

namespace hl {
namespace {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

constexpr size_t kMaxImageBytes = 64u << 20;
constexpr UINT kMaxSide = 16384;
constexpr long long kMaxScaledPixels = 16ll << 20;

bool Started() {
  // Started on first use: GdiplusStartup must not run inside DllMain. It is never shut down;
  // the process end takes it down.
  static bool ok = [] {
    GdiplusStartupInput in;
    in.GdiplusVersion = 1;
    in.DebugEventCallback = nullptr;
    in.SuppressBackgroundThread = FALSE;
    in.SuppressExternalCodecs = FALSE;
    ULONG_PTR token = 0;
    return GdiplusStartup(&token, &in, nullptr) == Ok;
  }();
  return ok;
}

// For one axis: which source pixels make up each destination pixel, and how much of each.
struct Tap {
  int index;
  float weight;
};
std::vector<std::vector<Tap>> Taps(int src, int dst) {
  std::vector<std::vector<Tap>> taps(static_cast<size_t>(dst));
  const float scale = static_cast<float>(src) / dst;
  for (int d = 0; d < dst; ++d) {
    auto& t = taps[static_cast<size_t>(d)];
    if (scale > 1) {
      float a = d * scale, b = a + scale;
      for (int s = static_cast<int>(a); s < src && s < b; ++s) {
        float w = std::min<float>(b, s + 1) - std::max<float>(a, s);
        if (w > 0) t.push_back(Tap{s, w / scale});
      }
    } else {
      float c = (d + 0.5f) * scale - 0.5f;
      int s0 = static_cast<int>(c < 0 ? -1 : c);
      float f = c - s0;
      int i0 = std::max(0, std::min(src - 1, s0)), i1 = std::max(0, std::min(src - 1, s0 + 1));
      t.push_back(Tap{i0, 1 - f});
      t.push_back(Tap{i1, f});
    }
  }
  return taps;
}

class GdiImage : public Image {
 public:
  GdiImage(std::vector<uint32_t> px, int w, int h) : px_(std::move(px)), w_(w), h_(h) {}
  ~GdiImage() override {
    if (scaled_) DeleteObject(scaled_);
  }
  int Width() const override { return w_; }
  int Height() const override { return h_; }

  void Draw(HDC dc, int x, int y, int w, int h) {
    if (w <= 0 || h <= 0 || static_cast<long long>(w) * h > kMaxScaledPixels) return;
    if (!scaled_ || w != sw_ || h != sh_) Rescale(w, h);
    if (!scaled_) return;
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, scaled_);
    BLENDFUNCTION bf = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc, x, y, w, h, mem, 0, 0, w, h, bf);
    SelectObject(mem, old);
    DeleteDC(mem);
  }

 private:
  void Rescale(int w, int h) {
    if (scaled_) DeleteObject(scaled_);
    scaled_ = nullptr;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bmp) return;
    auto* out = static_cast<uint32_t*>(bits);
    if (w == w_ && h == h_) {
      std::copy(px_.begin(), px_.end(), out);
    } else {
      // Rows first into floats, then columns.
      auto tx = Taps(w_, w), ty = Taps(h_, h);
      std::vector<float> mid(static_cast<size_t>(w) * h_ * 4);
      for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w; ++x) {
          float acc[4] = {0, 0, 0, 0};
          for (const Tap& t : tx[static_cast<size_t>(x)]) {
            uint32_t p = px_[static_cast<size_t>(y) * w_ + t.index];
            for (int c = 0; c < 4; ++c) acc[c] += ((p >> (8 * c)) & 0xFF) * t.weight;
          }
          std::copy(acc, acc + 4, &mid[(static_cast<size_t>(y) * w + x) * 4]);
        }
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          float acc[4] = {0, 0, 0, 0};
          for (const Tap& t : ty[static_cast<size_t>(y)])
            for (int c = 0; c < 4; ++c) acc[c] += mid[(static_cast<size_t>(t.index) * w + x) * 4 + c] * t.weight;
          uint32_t p = 0;
          for (int c = 0; c < 4; ++c)
            p |= static_cast<uint32_t>(std::max(0.f, std::min(255.f, acc[c] + 0.5f))) << (8 * c);
          out[static_cast<size_t>(y) * w + x] = p;
        }
    }
    scaled_ = bmp;
    sw_ = w;
    sh_ = h;
  }

  std::vector<uint32_t> px_;  // premultiplied BGRA, top-down
  int w_, h_;
  HBITMAP scaled_ = nullptr;
  int sw_ = 0, sh_ = 0;
};

}  // namespace

std::shared_ptr<Image> DecodeGdiImage(const uint8_t* data, size_t size) {
  if (!data || size == 0 || size > kMaxImageBytes || !Started()) return nullptr;
  IStream* stream = SHCreateMemStream(data, static_cast<UINT>(size));
  if (!stream) return nullptr;
  GpBitmap* decoded = nullptr;
  std::shared_ptr<Image> result;
  // GDI+ tells the format from the content and starts on the first frame of an animation.
  if (GdipCreateBitmapFromStream(stream, &decoded) == Ok && decoded) {
    UINT w = 0, h = 0;
    GdipGetImageWidth(decoded, &w);
    GdipGetImageHeight(decoded, &h);
    GpRect all = {0, 0, static_cast<INT>(w), static_cast<INT>(h)};
    BitmapData src = {};
    if (w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide &&
        GdipBitmapLockBits(decoded, &all, ImageLockModeRead, PixelFormat32bppPARGB, &src) == Ok) {
      std::vector<uint32_t> px(static_cast<size_t>(w) * h);
      for (UINT y = 0; y < h; ++y)
        memcpy(&px[static_cast<size_t>(y) * w], static_cast<const BYTE*>(src.Scan0) + static_cast<ptrdiff_t>(y) * src.Stride,
               w * 4);
      GdipBitmapUnlockBits(decoded, &src);
      result = std::make_shared<GdiImage>(std::move(px), static_cast<int>(w), static_cast<int>(h));
    }
    GdipDisposeImage(decoded);
  }
  stream->Release();
  return result;
}

void DrawGdiImage(HDC dc, Image& img, int x, int y, int w, int h) {
  if (auto* gi = dynamic_cast<GdiImage*>(&img)) gi->Draw(dc, x, y, w, h);
}

}  // namespace hl
