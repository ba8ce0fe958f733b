// The windows' pictures: stored in the program's resources as PNG at every display scale,
// decoded once per process through the Windows Imaging Component, picked for the pixel
// density of the window that draws them (Windows-only header).
#pragma once

#include "common/WinApi.h"
#include "ui/DpiScale.h"

#include <memory>

// Picture id as rendered at scale index (0: 100 %) with premultiplied alpha, decoded on first
// use and kept for the process's life; null when the resource is missing or not a picture.
std::shared_ptr<const TPixelImage> PictureRendering(int id, int scaleIndex);
// The design size of picture id (its 100 % rendering); {0, 0} when missing.
SIZE PictureDesignSize(int id);
// Picture id for drawing at dpi in a box of width x height pixels: the rendering for dpi
// when it has that size or is smaller (the caller stretches it, as a designed stretch does),
// else that rendering shrunk smoothly to the box; kept for the process's life.
std::shared_ptr<const TPixelImage> PictureForBox(int id, int dpi, int width, int height);
