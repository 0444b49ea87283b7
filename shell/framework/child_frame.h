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

  protected:
    // Whether the frame may close now; the base asks the document to save
    // when this is its last frame.
    virtual bool OnClose();
    void closeEvent(QCloseEvent* event) override;

  private:
    View* view_;
};

}  // namespace weftloom::framework
