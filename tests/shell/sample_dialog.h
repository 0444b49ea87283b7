#pragma once

#include "shell/framework/dialog_template.h"

// A small dialog with every kind of control the framework builds, laid out the
// way real ones are: ids out of order, an edit inside a radio group, a group
// box with a mnemonic behind the radios it encloses, and a label that shows
// its '&' literally.
namespace weftloom::framework::sample {

enum : int {
    kName = 101,     // plain edit after the label "&Name"
    kCount = 102,    // digits-only edit after "&Count"
    kFile = 103,     // sunken label
    kQuality = 104,  // drop-down list
    kSide = 105,     // digits-only edit inside the shape group
    kRound = 110,    // shape group, in template order: Round, Square, Triangle
    kTriangle = 111,
    kSquare = 112,
    kLeft = 120,  // hand group: Left, Right
    kRight = 121,
};

inline DialogTemplate Template() {
    DialogTemplate t = StandardDialogTemplate(200, QStringLiteral("Sample"), 200, 120);
    const auto radio = ControlKind::AutoRadioButton;
    t.controls = {
        {-1, ControlKind::Label, "&Name", 8, 10, 30, 8, kGroup},
        {kName, ControlKind::Edit, "", 44, 8, 60, 14, kTabStop},
        {-1, ControlKind::Label, "&Count", 8, 28, 30, 8, kGroup},
        {kCount, ControlKind::DigitsEdit, "", 44, 26, 40, 14, kTabStop},
        {kFile, ControlKind::SunkenLabel, "...", 8, 46, 96, 12, kGroup},
        {kQuality, ControlKind::DropDownList, "", 8, 62, 60, 48, kTabStop | kGroup},
        {-1, ControlKind::GroupBox, "&Shape", 112, 4, 80, 72},
        {kRound, radio, "Ro&und", 120, 16, 50, 10, kGroup},
        {kSquare, radio, "S&quare", 120, 28, 50, 10},
        {kSide, ControlKind::DigitsEdit, "", 130, 40, 30, 14, kTabStop},
        {kTriangle, radio, "&Triangle", 120, 58, 50, 10},
        {kLeft, radio, "&Left", 8, 84, 40, 10, kGroup},
        {kRight, radio, "Ri&ght", 52, 84, 40, 10},
        {-1, ControlKind::Label, "R&D", 100, 86, 30, 8, kGroup | kNoPrefix},
        {1, ControlKind::DefaultPushButton, "OK", 90, 100, 50, 14, kTabStop | kGroup},
        {2, ControlKind::PushButton, "Cancel", 144, 100, 50, 14, kTabStop},
    };
    return t;
}

}  // namespace weftloom::framework::sample
