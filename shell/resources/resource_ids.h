#pragma once

namespace weftloom {

// Resource numbers of the shell, kept as the user-visible and test-visible ids.
inline constexpr int kIdrMainFrame = 128;     // main menu, accelerators, toolbar, title
inline constexpr int kIdrTgaDocument = 129;   // TGA template, its menu and icon
inline constexpr int kIdrJpegDocument = 130;  // JPEG template, its menu and icon
inline constexpr int kIddAboutBox = 100;
inline constexpr int kIdSynthesise = 32771;
// The view's zoom and tiling.
inline constexpr int kIdZoomIn = 32772;
inline constexpr int kIdZoomOut = 32773;
inline constexpr int kIdZoomActual = 32774;
inline constexpr int kIdZoomFit = 32775;
inline constexpr int kIdViewTiled = 32776;
inline constexpr int kIdViewStretch = 32777;
// The last run's settings and size on the active picture, with a new seed.
inline constexpr int kIdSynthesiseAgain = 32780;
// The selection: its tools, the whole picture, none, the rest.
inline constexpr int kIdSelectRectangle = 32781;
inline constexpr int kIdSelectEllipse = 32782;
inline constexpr int kIdSelectLasso = 32783;
inline constexpr int kIdSelectAll = 32784;
inline constexpr int kIdSelectNone = 32785;
inline constexpr int kIdSelectInvert = 32786;
// What is done with it: filled from the rest of the picture, or cut out.
inline constexpr int kIdFillSelection = 32787;
inline constexpr int kIdFillTransparent = 32788;
inline constexpr int kIdCropToSelection = 32789;

}  // namespace weftloom
