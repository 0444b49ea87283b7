#pragma once

#include "engine/image.h"

namespace weftloom {

// The system clipboard as a place for pictures. A copied picture keeps its
// bytes: three bytes per pixel as RGB, four as RGBA with straight alpha. A
// picture taken from the clipboard has four bytes per pixel when any pixel is
// less than opaque, three otherwise. Need a QGuiApplication; user-interface
// thread only.

// Puts image on the clipboard; an empty image leaves the clipboard alone.
void CopyPictureToClipboard(const Image& image);

// Whether the clipboard holds a picture now.
bool ClipboardHasPicture();

// The clipboard's picture; false (image unchanged) when it holds none or the
// picture cannot be held.
bool PictureFromClipboard(Image& image);

}  // namespace weftloom
