// Pictures: decoded once by GDI+ from bytes (any format it knows, told from the content, the
// first frame of an animation), drawn scaled through AlphaBlend.
#pragma once
#include <windows.h>

#include <memory>

#include "Dom.h"

namespace hl {

std::shared_ptr<Image> DecodeGdiImage(const uint8_t* data, size_t size);
// The pixels scaled to w x h are kept, so repainting the same size costs one blend.
void DrawGdiImage(HDC dc, Image& img, int x, int y, int w, int h);

}  // namespace hl
