// Colour arithmetic in hue, lightness and saturation, for the program's drawing and the owner-drawn
// menus of the window layer (Windows only).
#pragma once

#include <windows.h>

// Packed HSL: bits 0-7 hue (0-255 for 0-360 degrees), 8-15 lightness, 16-23 saturation.
int RgbToHsl(COLORREF colour);
COLORREF HslToRgb(int hsl);
// Lightness moved lightnessPercent towards white (> 0) or scaled to lightnessPercent + 100 percent
// (< 0); saturation scaled to saturationPercent + 100 percent when saturationPercent < 0.
COLORREF AdjustColor(COLORREF colour, int lightnessPercent, int saturationPercent);
