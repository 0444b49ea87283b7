#include "tests/shell/test_dialogs.h"

namespace weftloom::testing {

using framework::ControlKind;
using framework::kGroup;
using framework::kTabStop;

framework::DialogTemplate ParametersTemplate() {
    framework::DialogTemplate t;
    t.id = 130;
    t.caption = QStringLiteral("Synthesis Parameters");
    t.fontName = QStringLiteral("MS Sans Serif");
    t.pointSize = 8;
    t.width = 348;
    t.height = 213;
    const auto edit = ControlKind::DigitsEdit;
    const auto label = ControlKind::Label;
    const auto radio = ControlKind::AutoRadioButton;
    const auto list = ControlKind::DropDownList;
    const auto box = ControlKind::GroupBox;
    t.controls = {
        {-1, label, "Input file :", 16, 12, 32, 8, kGroup},
        {1000, ControlKind::SunkenLabel, "...", 52, 10, 113, 12, kGroup},
        {-1, box, "New Image", 16, 28, 148, 64},
        {-1, label, "&Width", 28, 47, 20, 8, kGroup},
        {1001, edit, "", 63, 44, 40, 14, kTabStop},
        {-1, label, "&Height", 28, 67, 22, 8, kGroup},
        {1002, edit, "", 63, 64, 40, 14, kTabStop},
        {-1, box, "Subsampling", 16, 100, 148, 100},
        {1017, radio, "&Disable", 24, 116, 39, 10, kGroup},
        {1018, radio, "S&ubsample to", 24, 136, 56, 10},
        {1020, radio, "Su&bsample to", 24, 178, 56, 10},
        {1019, edit, "", 84, 134, 28, 14, kTabStop},
        {-1, label, "%", 114, 137, 8, 8, kGroup},
        {-1, label, "Minimum pi&xel count :", 36, 155, 68, 8, kGroup},
        {1013, edit, "", 108, 152, 40, 14, kTabStop},
        {1012, edit, "", 84, 176, 40, 14, kTabStop},
        {-1, label, "pixels", 128, 179, 18, 8, kGroup},
        {-1, label, "Level 1", 192, 18, 24, 8, kGroup},
        {1008, list, "", 228, 16, 48, 55, kTabStop},
        {-1, label, "Level 2", 192, 37, 24, 8, kGroup},
        {1009, list, "", 228, 35, 48, 48, kTabStop},
        {-1, label, "Level 3", 192, 57, 24, 8, kGroup},
        {1010, list, "", 228, 55, 48, 48, kTabStop},
        {1014, radio, "L&1 : sum of abs", 192, 116, 64, 10, kGroup},
        {1015, radio, "L&2 : Euclidian", 192, 128, 59, 10},
        {1016, radio, "L&inf : largest abs", 192, 140, 67, 10},
        {1, ControlKind::DefaultPushButton, "OK", 212, 180, 50, 14, kTabStop},
        {2, ControlKind::PushButton, "Cancel", 273, 180, 50, 14, kTabStop},
        {-1, box, "Accuracy", 180, 4, 148, 88},
        {-1, label, "Lower accuracy is faster, but may miss essential texture features", 188, 72,
         129, 16, kGroup},
        {-1, box, "&Distance metric", 180, 100, 148, 60},
    };
    return t;
}

}  // namespace weftloom::testing
