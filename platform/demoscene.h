#ifndef ORVELLA_DEMOSCENE_H
#define ORVELLA_DEMOSCENE_H

#include <cstdint>
#include <vector>

// A quiet room that a dark figure walks through now and then, drawn without
// any input so the program can be tried out with no camera. The scene is a
// pure function of time, so every run shows the same thing.
class DemoScene
{
public:
    static constexpr int Width = 480;
    static constexpr int Height = 320;
    static constexpr int FramesPerSecond = 20;

    DemoScene();

    // Draws the scene at time t (seconds) into Width * Height words 0xAARRGGBB.
    void render(double t, uint32_t *pixels) const;

    // Horizontal centre of the figure at time t, or a value outside the frame
    // while nobody is in the room.
    static double figureX(double t);

private:
    void drawFigure(double t, uint32_t *pixels) const;

    std::vector<uint32_t> m_background;
    std::vector<int8_t> m_noise;
};

#endif
