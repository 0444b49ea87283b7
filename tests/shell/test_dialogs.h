#pragma once

#include "shell/framework/dialog_template.h"

namespace weftloom::testing {

// The synthesis parameters layout (template 130), control for control, as a
// realistic fixture: two radio groups, one with an edit between its buttons,
// labels with mnemonics, digits-only edits and drop-down lists.
framework::DialogTemplate ParametersTemplate();

}  // namespace weftloom::testing
