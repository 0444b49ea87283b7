#pragma once

namespace weftloom::framework {

// Command ids: the framework's stock commands keep their customary numbers,
// so that menus, accelerators, toolbars and tests all speak of the same ones.
namespace command {
inline constexpr int kFileNew = 57600;
inline constexpr int kFileOpen = 57601;
inline constexpr int kFileClose = 57602;
inline constexpr int kFileSaveAs = 57604;
inline constexpr int kFileMru1 = 57616;  // the recent files are kFileMru1 + 0..3
inline constexpr int kEditCopy = 57634;
inline constexpr int kEditCut = 57635;
inline constexpr int kEditPaste = 57637;
inline constexpr int kEditUndo = 57643;
inline constexpr int kWindowNew = 57648;
inline constexpr int kWindowArrange = 57649;
inline constexpr int kWindowCascade = 57650;
inline constexpr int kWindowTile = 57651;
inline constexpr int kAppAbout = 57664;
inline constexpr int kAppExit = 57665;
inline constexpr int kNextPane = 57680;
inline constexpr int kPrevPane = 57681;
inline constexpr int kViewToolbar = 59392;
}  // namespace command

inline constexpr int kRecentFileCount = 4;

// Something that can carry out commands: views, documents' frames, the main
// frame and the application, asked in that order. Both calls happen on the
// user-interface thread.
class CommandTarget {
  public:
    virtual ~CommandTarget() = default;
    // Carries out the command; false when this target has no handler for it.
    virtual bool OnCommand(int id) {
        (void)id;
        return false;
    }
    // Whether the command is enabled: 1 yes, 0 no, -1 when this target does
    // not handle it (the next target is asked).
    virtual int CommandState(int id) const {
        (void)id;
        return -1;
    }
};

}  // namespace weftloom::framework
