#pragma once

#include <QIcon>
#include <QImage>

namespace weftloom {

// The application's pictures, drawn in code so that nothing depends on image
// files at run time. Each call draws afresh; callers keep what they need.
// Need a QGuiApplication; user-interface thread only.

// Toolbar size of a button image.
inline constexpr int kToolbarImageWidth = 16;
inline constexpr int kToolbarImageHeight = 15;

// The button image of toolbar command 57601 (open), 32771 (synthesise),
// 57604 (save as), 57664 (about) or a selection tool (32781 to 32783):
// 16 x 15 pixels, transparent background.
// A null image for any other command.
QImage ToolbarButtonImage(int commandId);

// The same as an icon, for a QAction; a null icon for other commands.
QIcon ToolbarIcon(int commandId);

// The application's icon (a small loom weave) and the documents' icon (a page
// holding a tiled picture), each at 32 x 32 and 16 x 16 pixels.
QIcon ApplicationIcon();
QIcon DocumentIcon();

}  // namespace weftloom
