#pragma once

#include <QString>

#include <map>
#include <vector>

#include "shell/framework/application.h"
#include "shell/framework/main_frame.h"

namespace weftloom {

// The shell's fixed texts and tables: template strings, the main window's
// title, commands (menu text, prompt, keys), menus and the toolbar.
inline constexpr const char kMainFrameTitle[] = "WeftLoom";   // string 128
inline constexpr const char kApplicationName[] = "weftloom";  // string 57344
inline constexpr const char kTgaTemplateString[] =
    "WeftLoom\n\nWeftlo\nTGA Images (*.tga)\n.tga\n\n\n";
inline constexpr const char kJpegTemplateString[] =
    "WeftLoom\n\nWeftlo\nJPEG Images (*.jpg)\n.jpg\n\n\n";

// Command texts, prompts and accelerators (table 128, 14 entries).
std::map<int, framework::CommandInfo> CommandTable();

// Menus 128 (no document), 129 and 130 (a document active).
std::map<int, std::vector<framework::MenuTemplate>> MenuTable();

// Toolbar 128: Open, Synthesise, Save As, the selection tools, About.
std::vector<int> ToolBarButtons();

}  // namespace weftloom
