#pragma once

#include "shell/framework/child_frame.h"

namespace weftloom {

// The window around an image view. Ending the window or the document of a
// synthesis under way asks "Abort synthesis ?" first; No keeps it open.
class CChildFrame : public framework::ChildFrame {
    Q_OBJECT
  public:
    explicit CChildFrame(framework::View* view);

    bool ConfirmEnd() override;
};

inline constexpr const char kAbortSynthesisQuestion[] = "Abort synthesis ?";

}  // namespace weftloom
