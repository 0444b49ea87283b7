#include "shell/resources/shell_resources.h"

#include "shell/framework/commands.h"
#include "shell/resources/resource_ids.h"

namespace weftloom {

namespace command = framework::command;

std::map<int, framework::CommandInfo> CommandTable() {
    using K = QKeySequence;
    std::map<int, framework::CommandInfo> table;
    table[command::kFileNew] = {
        "&New\tCtrl+N", "Create a new document\nNew", {K(Qt::CTRL | Qt::Key_N)}};
    table[command::kFileOpen] = {
        "&Open...\tCtrl+O", "Open an existing document\nOpen", {K(Qt::CTRL | Qt::Key_O)}};
    table[kIdSynthesise] = {"S&ynthesise...\tCtrl+Y",
                            "Synthesise a new texture\tSynthesise",
                            {K(Qt::CTRL | Qt::Key_Y)}};
    table[kIdSynthesiseAgain] = {
        "Synthesise A&gain\tCtrl+Shift+Y",
        "Synthesise again from the active picture, with the last settings and size and a new "
        "seed\nSynthesise Again",
        {K(Qt::CTRL | Qt::SHIFT | Qt::Key_Y)}};
    table[command::kFileSaveAs] = {"Save &As...\tCtrl+S",
                                   "Save the active document with a new name\nSave As",
                                   {K(Qt::CTRL | Qt::Key_S)}};
    table[command::kFileClose] = {"&Close", "Close the active document\nClose", {}};
    for (int i = 0; i < framework::kRecentFileCount; ++i) {
        table[command::kFileMru1 + i] = {"Recent File", "Open this document", {}};
    }
    table[command::kAppExit] = {"E&xit\tCtrl+Q",
                                "Quit the application; prompts to save documents\nExit",
                                {K(Qt::CTRL | Qt::Key_Q)}};
    table[command::kViewToolbar] = {"&Toolbar", "Show or hide the toolbar\nToggle ToolBar", {}};
    table[kIdZoomIn] = {"Zoom &In\tCtrl++",
                        "Show the image twice as large\nZoom In",
                        {K(Qt::CTRL | Qt::Key_Plus), K(Qt::CTRL | Qt::Key_Equal)}};
    table[kIdZoomOut] = {"Zoom &Out\tCtrl+-",
                         "Show the image half as large\nZoom Out",
                         {K(Qt::CTRL | Qt::Key_Minus)}};
    table[kIdZoomActual] = {"&Actual Size\tCtrl+0",
                            "Show the image pixel for pixel\nActual Size",
                            {K(Qt::CTRL | Qt::Key_0)}};
    table[kIdZoomFit] = {
        "&Fit", "Show the whole image as large as its window allows, in its shape\nFit", {}};
    table[kIdViewStretch] = {"&Stretch", "Stretch the image over its window\nStretch", {}};
    table[kIdViewTiled] = {
        "Ti&led", "Show the image repeated 2 x 2, to see whether it tiles\nTiled", {}};
    table[command::kWindowNew] = {
        "&New Window", "Open another window for the active document\nNew Window", {}};
    table[command::kWindowCascade] = {
        "&Cascade", "Arrange windows so they overlap\nCascade Windows", {}};
    table[command::kWindowTile] = {
        "&Tile", "Arrange windows as non-overlapping tiles\nTile Windows", {}};
    table[command::kWindowArrange] = {
        "&Arrange Icons", "Arrange icons at the bottom of the window\nArrange Icons", {}};
    table[command::kAppAbout] = {"&About WeftLoom...",
                                 "Display program information, version number and copyright\nAbout",
                                 {}};
    table[command::kEditCopy] = {"&Copy\tCtrl+C",
                                 "Copy the picture, or its selected part, to the clipboard\nCopy",
                                 {K(Qt::CTRL | Qt::Key_C), K(Qt::CTRL | Qt::Key_Insert)}};
    table[command::kEditPaste] = {
        "Paste as &New\tCtrl+V",
        "Make a new document of the picture on the clipboard\nPaste as New",
        {K(Qt::CTRL | Qt::Key_V), K(Qt::SHIFT | Qt::Key_Insert)}};
    table[kIdSelectRectangle] = {
        "&Rectangle Selection",
        "Select by dragging a rectangle; Shift adds to the selection, Ctrl takes away\nRectangle",
        {}};
    table[kIdSelectEllipse] = {
        "&Ellipse Selection",
        "Select by dragging an ellipse; Shift adds to the selection, Ctrl takes away\nEllipse",
        {}};
    table[kIdSelectLasso] = {
        "&Lasso Selection",
        "Select by drawing around the pixels; Shift adds to the selection, Ctrl takes away\nLasso",
        {}};
    table[kIdSelectAll] = {
        "Select &All\tCtrl+A", "Select the whole picture\nSelect All", {K(Qt::CTRL | Qt::Key_A)}};
    table[kIdSelectNone] = {"Select &None\tCtrl+Shift+A",
                            "Select nothing\nSelect None",
                            {K(Qt::CTRL | Qt::SHIFT | Qt::Key_A)}};
    table[kIdSelectInvert] = {"&Invert Selection\tCtrl+I",
                              "Select what is not selected, and nothing of what is\nInvert",
                              {K(Qt::CTRL | Qt::Key_I)}};
    table[kIdFillSelection] = {
        "&Fill Selection...\tCtrl+Shift+F",
        "Make the selected pixels anew from the rest of the picture, in a new window\nFill "
        "Selection",
        {K(Qt::CTRL | Qt::SHIFT | Qt::Key_F)}};
    table[kIdFillTransparent] = {
        "Fill &Transparent Areas...",
        "Make the transparent pixels anew from the rest of the picture, in a new "
        "window\nFill Transparent Areas",
        {}};
    table[kIdCropToSelection] = {
        "Cro&p to Selection",
        "Open the rectangle around the selection as a new picture\nCrop to Selection",
        {}};
    // The other edit keys and the pane keys exist in the accelerator table but
    // have no handler.
    table[command::kEditCut] = {
        "Cu&t", "", {K(Qt::SHIFT | Qt::Key_Delete), K(Qt::CTRL | Qt::Key_X)}};
    table[command::kEditUndo] = {
        "&Undo", "", {K(Qt::ALT | Qt::Key_Backspace), K(Qt::CTRL | Qt::Key_Z)}};
    table[command::kNextPane] = {"Next Pane", "", {K(Qt::Key_F6)}};
    table[command::kPrevPane] = {"Previous Pane", "", {K(Qt::SHIFT | Qt::Key_F6)}};
    return table;
}

std::map<int, std::vector<framework::MenuTemplate>> MenuTable() {
    const framework::MenuTemplate view{"&View", {command::kViewToolbar}};
    const framework::MenuTemplate imageView{
        "&View",
        {command::kViewToolbar, 0, kIdZoomIn, kIdZoomOut, kIdZoomActual, kIdZoomFit, kIdViewStretch,
         0, kIdViewTiled}};
    const framework::MenuTemplate edit{"&Edit", {command::kEditCopy, command::kEditPaste}};
    const framework::MenuTemplate imageEdit{
        "&Edit",
        {command::kEditCopy, command::kEditPaste, 0, kIdSelectAll, kIdSelectNone, kIdSelectInvert,
         0, kIdSelectRectangle, kIdSelectEllipse, kIdSelectLasso, 0, kIdFillSelection,
         kIdFillTransparent, kIdCropToSelection}};
    const framework::MenuTemplate help{"&Help", {command::kAppAbout}};
    const std::vector<framework::MenuTemplate> noDocument = {
        {"&File", {command::kFileOpen, 0, command::kFileMru1, 0, command::kAppExit}},
        edit,
        view,
        help};
    const std::vector<framework::MenuTemplate> document = {
        {"&File",
         {command::kFileOpen, kIdSynthesise, kIdSynthesiseAgain, command::kFileSaveAs,
          command::kFileClose, 0, command::kFileMru1, 0, command::kAppExit}},
        imageEdit,
        imageView,
        {"&Window",
         {command::kWindowNew, command::kWindowCascade, command::kWindowTile,
          command::kWindowArrange}},
        help};
    return {{kIdrMainFrame, noDocument}, {kIdrTgaDocument, document}, {kIdrJpegDocument, document}};
}

std::vector<int> ToolBarButtons() {
    return {command::kFileOpen, kIdSynthesise,    command::kFileSaveAs, 0,
            kIdSelectRectangle, kIdSelectEllipse, kIdSelectLasso,       0,
            command::kAppAbout};
}

}  // namespace weftloom
