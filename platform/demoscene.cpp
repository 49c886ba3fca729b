#include "demoscene.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{

// One walk through the room takes CrossSeconds; the room is then empty until
// the walk back, half a period later.
constexpr double PeriodSeconds = 8.0;
constexpr double FirstEntrySeconds = 1.0;
constexpr double WalkSpeed = 400.0; // pixels per second
constexpr double Margin = 50.0;     // the figure starts and ends this far off frame
constexpr double CrossSeconds = (DemoScene::Width + 2 * Margin) / WalkSpeed;

constexpr int FloorTop = 236;
constexpr int FeetY = 296;
constexpr int NoiseSlack = 4096;

constexpr uint32_t rgb(int r, int g, int b)
{
    return 0xFF000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
}

constexpr uint32_t FigureColour = rgb(34, 30, 38);

void fillRect(uint32_t *pixels, int x0, int y0, int x1, int y1, uint32_t colour)
{
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, DemoScene::Width);
    y1 = std::min(y1, DemoScene::Height);
    for (int y = y0; y < y1; ++y)
        std::fill(pixels + y * DemoScene::Width + x0,
                  pixels + y * DemoScene::Width + std::max(x0, x1), colour);
}

void fillDisc(uint32_t *pixels, int cx, int cy, int radius, uint32_t colour)
{
    for (int dy = -radius; dy <= radius; ++dy) {
        const int half = int(std::sqrt(double(radius * radius - dy * dy)));
        fillRect(pixels, cx - half, cy + dy, cx + half + 1, cy + dy + 1, colour);
    }
}

// Small, cheap pseudo-random numbers; quality hardly matters for sensor noise.
uint32_t nextRandom(uint32_t &state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

int clampByte(int v)
{
    return std::clamp(v, 0, 255);
}

} // namespace

DemoScene::DemoScene() : m_background(Width * Height), m_noise(Width * Height * 3 + NoiseSlack)
{
    uint32_t *p = m_background.data();
    for (int y = 0; y < FloorTop; ++y) {
        const int shade = 224 - y * 16 / FloorTop;
        fillRect(p, 0, y, Width, y + 1, rgb(shade, shade - 4, shade - 14));
    }
    for (int y = FloorTop; y < Height; ++y) {
        const int shade = 196 + (y - FloorTop) * 14 / (Height - FloorTop);
        fillRect(p, 0, y, Width, y + 1, rgb(shade, shade - 10, shade - 26));
    }
    fillRect(p, 0, FloorTop - 6, Width, FloorTop, rgb(176, 166, 150)); // skirting board
    // A window with a cross bar, and a picture on the wall.
    fillRect(p, 300, 36, 424, 156, rgb(150, 138, 120));
    fillRect(p, 305, 41, 419, 151, rgb(236, 242, 248));
    fillRect(p, 360, 41, 364, 151, rgb(150, 138, 120));
    fillRect(p, 305, 94, 419, 98, rgb(150, 138, 120));
    fillRect(p, 70, 70, 150, 130, rgb(160, 150, 132));
    fillRect(p, 74, 74, 146, 126, rgb(214, 226, 206));

    uint32_t state = 12345;
    for (int8_t &n : m_noise)
        n = int8_t(int(nextRandom(state) % 3) - 1);
}

double DemoScene::figureX(double t)
{
    const double phase = std::fmod(t + PeriodSeconds - FirstEntrySeconds, PeriodSeconds);
    const double back = PeriodSeconds / 2;
    if (phase < CrossSeconds)
        return -Margin + phase * WalkSpeed;
    if (phase >= back && phase < back + CrossSeconds)
        return Width + Margin - (phase - back) * WalkSpeed;
    return -10 * Margin;
}

void DemoScene::render(double t, uint32_t *pixels) const
{
    std::memcpy(pixels, m_background.data(), m_background.size() * sizeof(uint32_t));
    drawFigure(t, pixels);

    // Light noise, different in every frame, as a real sensor would give.
    uint32_t state = uint32_t(std::lround(t * 1000.0)) * 2654435761u;
    const int8_t *noise = m_noise.data() + nextRandom(state) % NoiseSlack;
    for (int i = 0; i < Width * Height; ++i, noise += 3) {
        const uint32_t p = pixels[i];
        const int r = clampByte(int(p >> 16 & 0xFF) + noise[0]);
        const int g = clampByte(int(p >> 8 & 0xFF) + noise[1]);
        const int b = clampByte(int(p & 0xFF) + noise[2]);
        pixels[i] = rgb(r, g, b);
    }
}

void DemoScene::drawFigure(double t, uint32_t *pixels) const
{
    const double x = figureX(t);
    if (x < -Margin || x > Width + Margin)
        return;
    const int cx = int(std::lround(x));
    // Legs swing in opposite directions while walking.
    const int swing = int(std::lround(12.0 * std::sin(x / 18.0)));
    fillRect(pixels, cx - 16 + swing, 226, cx - 2 + swing, FeetY, FigureColour);
    fillRect(pixels, cx + 2 - swing, 226, cx + 16 - swing, FeetY, FigureColour);
    fillRect(pixels, cx - 28, 134, cx + 28, 232, FigureColour);
    fillRect(pixels, cx - 6, 122, cx + 6, 136, FigureColour);
    fillDisc(pixels, cx, 108, 17, FigureColour);
}
