// Conversions between RGB and packed HSL in single precision, and the lightness and saturation
// changes the menus and panels draw with.
#include "Hsl.h"

#include <algorithm>

namespace {

float ChannelValue(float m1, float m2, float h)
{
    if (h > 360)
        h -= 360;
    else if (h < 0)
        h += 360;
    if (h < 60)
        return m1 + (m2 - m1) * h / 60;
    if (h < 180)
        return m2;
    if (h < 240)
        return m1 + (m2 - m1) * (240 - h) / 60;
    return m1;
}

}  // namespace

int RgbToHsl(COLORREF colour)
{
    float r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
    float mn = std::min(r, std::min(g, b)), mx = std::max(r, std::max(g, b));
    float sum = mn + mx;
    float l = sum / 510, s = 0, h = 0;
    if (mn != mx) {
        float d = mx - mn;
        s = l <= 0.5f ? d / sum : d / (510 - sum);
        float rc = (mx - r) / d, gc = (mx - g) / d, bc = (mx - b) / d;
        if (b == mx)
            h = (4 + gc - rc) * 60;
        else if (g == mx)
            h = (2 + rc - bc) * 60;
        else
            h = (6 + bc - gc) * 60;
        if (h > 360)
            h -= 360;
    }
    int sat = static_cast<int>(s * 255), light = static_cast<int>(l * 255), hue = static_cast<int>(h * 255 / 360);
    return (sat & 0xFF) << 16 | (light & 0xFF) << 8 | (hue & 0xFF);
}

COLORREF HslToRgb(int hsl)
{
    int hue = hsl & 0xFF, light = (hsl >> 8) & 0xFF, sat = (hsl >> 16) & 0xFF;
    float s = sat / 255.0f;
    if (s == 0)
        return RGB(light, light, light);
    float l = light / 255.0f;
    float m2 = l <= 0.5f ? l * (1 + s) : l + s - l * s;
    float m1 = 2 * l - m2;
    float h = hue * 360 / 255.0f;
    int r = static_cast<int>(ChannelValue(m1, m2, h + 120) * 255);
    int g = static_cast<int>(ChannelValue(m1, m2, h) * 255);
    int b = static_cast<int>(ChannelValue(m1, m2, h - 120) * 255);
    return RGB(r, g, b);
}

COLORREF AdjustColor(COLORREF colour, int lightnessPercent, int saturationPercent)
{
    int hsl = RgbToHsl(colour);
    int hue = hsl & 0xFF, light = (hsl >> 8) & 0xFF, sat = (hsl >> 16) & 0xFF;
    if (lightnessPercent > 0)
        light = static_cast<unsigned char>(light + (255 - light) * lightnessPercent / 100);
    else if (lightnessPercent < 0)
        light = static_cast<unsigned char>(light * (lightnessPercent + 100) / 100);
    if (saturationPercent < 0)
        sat = static_cast<unsigned char>(sat * (saturationPercent + 100) / 100);
    return HslToRgb(sat << 16 | light << 8 | hue);
}
