#pragma once

#include "shell/framework/child_frame.h"

namespace weftloom {

// The window around an image view. Closing the window of a document that is
// being synthesised asks "Abort synthesis ?" first; No keeps it open.
class CChildFrame : public framework::ChildFrame {
    Q_OBJECT
  public:
    explicit CChildFrame(framework::View* view);

  protected:
    bool OnClose() override;
};

inline constexpr const char kAbortSynthesisQuestion[] = "Abort synthesis ?";

}  // namespace weftloom
