#pragma once

#include <QMdiSubWindow>

#include "shell/framework/commands.h"

namespace weftloom::framework {

class Document;
class View;

// The child window around one view inside the main frame. Closing it closes
// the view; closing the last view of a modified document asks to save first.
// Deleted when closed. User-interface thread only.
class ChildFrame : public QMdiSubWindow, public CommandTarget {
    Q_OBJECT
  public:
    explicit ChildFrame(View* view);
    ~ChildFrame() override;

    View* GetView() const { return view_; }
    Document* GetActiveDocument() const;
    // The document's title, numbered ":n" when the document has several windows.
    void UpdateTitle();

    // Asked before the view or the whole document ends, whichever way (the close
    // box, File > Close, closing the main window): true when it may. The base
    // has nothing to ask.
    virtual bool ConfirmEnd() { return true; }

  protected:
    // Whether the frame may close now: ConfirmEnd, then, when this is the
    // document's last frame, the document's offer to save.
    virtual bool OnClose();
    void closeEvent(QCloseEvent* event) override;

  private:
    View* view_;
};

}  // namespace weftloom::framework
