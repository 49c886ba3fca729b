#ifndef ORVELLA_BRIGHTNESS_H
#define ORVELLA_BRIGHTNESS_H

#include <QImage>

// Offset for the brightness slider (1 to 20, neutral 10): -229 ... 255.
int brightnessOffset(int sliderValue);

// Adds offset to the red, green and blue bytes of every pixel, clamped to
// 0..255, and sets alpha to 255. frame must be Format_ARGB32.
void applyBrightnessOffset(QImage &frame, int offset);

#endif
