#pragma once

#include <QImage>
#include <cstdint>

// Decodes the run-coded pixel words of a 16-bit record into picture, a width x height
// Format_RGB16 image; every pixel is written, those no run covers with 0.  words holds wordCount
// little-endian 16-bit words.  Every write stays inside the picture and every read
// inside the words, whatever the words hold.
void DecodeRuns16(const uint8_t* words, int64_t wordCount, int width, int height, QImage& picture);
