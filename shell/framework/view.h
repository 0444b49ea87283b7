#pragma once

#include <QAbstractScrollArea>
#include <QSize>

#include "shell/framework/commands.h"

class QPainter;

namespace weftloom::framework {

class ChildFrame;
class Document;

// A scrolling view of one document, shown in a child frame. The view draws in
// document coordinates through OnDraw; the scroll sizes say how large that
// drawing is. User-interface thread only.
class View : public QAbstractScrollArea, public CommandTarget {
    Q_OBJECT
  public:
    explicit View(Document* document);
    ~View() override;

    Document* GetDocument() const { return document_; }
    ChildFrame* ParentFrame() const;

    // The first update after the frame is shown: repaints.
    virtual void OnInitialUpdate();
    // What the main window's status bar says while this view is active.
    virtual QString StatusText() const { return {}; }
    // An update sent through the document's UpdateAllViews: repaints.
    virtual void OnUpdate(View* sender, int hint);

    void SetScrollSizes(QSize total);
    QSize ScrollSizes() const { return scrollSizes_; }
    // Resizes the frame so that the view's client area is exactly the scroll
    // size (shrinkOnly: never grow it).
    void ResizeParentToFit(bool shrinkOnly);

    // Runs once, while the frame around the view is destroyed: OnDestroy, then
    // the view leaves its document (which closes when it was the last view).
    void Destroy();

  protected:
    virtual void OnDestroy() {}
    // Draws the document; the painter is already moved by the scroll position.
    virtual void OnDraw(QPainter& painter);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    void UpdateScrollBars();

    Document* document_;
    QSize scrollSizes_{0, 0};
    bool destroyed_ = false;
};

}  // namespace weftloom::framework
