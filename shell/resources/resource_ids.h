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

}  // namespace weftloom
