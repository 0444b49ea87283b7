#pragma once

#include <QColor>
#include <QImage>
#include <QTransform>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "engine/image.h"
#include "shell/framework/view.h"
#include "shell/selection.h"

namespace weftloom {

class CWeftloomDoc;

// The colour around a picture that does not fill its view.
inline constexpr QColor kViewBackground(96, 96, 96);

// The description of the view's display copy: a top-down bitmap whose rows are
// padded to a multiple of four pixels (1 to 4 more than the image), pixels in
// blue, green, red (, alpha) order.
struct DisplayBitmapInfo {
    std::int32_t width = 0;       // the image's width rounded up past a multiple of 4
    std::int32_t height = 0;      // minus the image's height: top-down
    std::uint16_t bitCount = 0;   // 24 or 32
    std::uint32_t sizeImage = 0;  // height x bytes per pixel x image width
};

// Shows its document's image as large as the client area allows in its own
// shape, centred on a neutral background (Fit, the start), stretched over the
// whole client area (Stretch) or at a zoom factor with scrolling; once or
// repeated 2 x 2 (Tiled). Enlargements show pixels as blocks, reductions are
// smoothed, and transparent pixels show a checkerboard through them. Draws from
// a display copy that is refreshed row by row while a synthesis runs.
// The document's selection shows tinted in a dashed outline; dragging with the
// left button draws a new one with the current tool (Shift adds to it, Ctrl
// takes away, a click without a drag selects nothing).
// Carries the Synthesise, fill, selection tool, zoom, Stretch and Tiled
// commands and the enabling of Synthesise and Save As; its end stops a run
// that writes into its document. User-interface thread only.
class CWeftloomView : public framework::View {
    Q_OBJECT
  public:
    explicit CWeftloomView(CWeftloomDoc* document);
    ~CWeftloomView() override;

    CWeftloomDoc* GetDocument() const;

    // Brings rows firstRow up to endRow of image, the document's, into the
    // display copy (all rows when the copy has to be built first) and
    // repaints. A few megabytes are brought at once; the rest of a larger
    // range follows a slice at a time between events, so that a huge picture
    // never holds up the interface.
    void RefreshRows(const Image& image, std::uint32_t firstRow, std::uint32_t endRow);
    // Whether rows still wait to be brought into the display copy or into its
    // halved copies.
    bool IsCatchingUp() const;
    // Resizes the frame so that the client area is the image's size, doubled
    // until both sides are at least 128 (within the work area), and shows the
    // image at Fit.
    void FitToImage();

    void OnInitialUpdate() override;
    QString StatusText() const override;
    bool OnCommand(int id) override;
    int CommandState(int id) const override;

    // The display copy as built, for tests: empty before the first refresh.
    std::span<const std::uint8_t> BitmapBits() const { return {bitmapBits_.get(), bitmapSize_}; }
    const DisplayBitmapInfo& BitmapInfo() const { return bitmapInfo_; }
    bool HasBitmap() const { return bitmapSize_ != 0; }
    // The zoom factor; 0 at Fit and Stretch.
    double Zoom() const { return scaling_ == Scaling::Zoom ? zoom_ : 0; }
    bool Tiled() const { return tiled_; }

    // The shape new selections are drawn with, in every view.
    static SelectionShape Tool();
    static void SetTool(SelectionShape tool);
    // Where a point of the client area lies on the picture (its first copy
    // when tiled), in picture coordinates; and back.
    QPointF ToPicture(QPointF client) const;
    QPointF FromPicture(QPointF picture) const;

  protected:
    void OnDestroy() override;
    void OnDraw(QPainter& painter) override;
    // Ctrl+wheel zooms; the plain wheel scrolls.
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Escape drops a shape being drawn.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // How the picture is scaled to the client area.
    enum class Scaling { Fit, Stretch, Zoom };

    void OnSynthesise();
    // Fill Selection (transparent false) or Fill Transparent Areas.
    void OnFill(bool transparent);
    // The places of the picture's copies in the client area (one unless tiled).
    std::vector<QRect> Copies() const;
    // Picture coordinates onto one of the copies.
    QTransform PictureOnto(const QRect& copy) const;
    // Draws the selection, and the shape being drawn, over the picture.
    void DrawSelection(QPainter& painter);
    bool NeedsNewBitmap(const Image& image) const;
    bool BuildBitmap(const Image& image);
    // Copies the next slice of the rows waiting for the display copy and,
    // while rows remain, posts itself again (PostCopy) to run once the events
    // waiting now are handled.
    void CopyPendingRows();
    void PostCopy();
    // Sets the scaling, the zoom factor (used by Zoom only) and the tiling,
    // with the scroll sizes they need: none at Fit and Stretch.
    void SetScaling(Scaling scaling, double zoom, bool tiled);
    // Where the whole picture (all its copies when tiled) lies in the client
    // area, with the scroll position applied.
    QRect PictureRect() const;
    // The display copy halved `level` times (at least once), brought up to
    // date with the rows refreshed since it was last asked for, a slice at a
    // time: while rows remain, another repaint is asked for.
    const QImage& Reduction(std::size_t level);

    struct FreeBytes {
        void operator()(std::uint8_t* bytes) const { std::free(bytes); }
    };
    // Allocated zeroed by the system (calloc): a huge copy costs nothing until
    // its rows are written, a slice at a time.
    std::unique_ptr<std::uint8_t[], FreeBytes> bitmapBits_;
    std::size_t bitmapSize_ = 0;
    DisplayBitmapInfo bitmapInfo_;
    QImage display_;  // wraps bitmapBits_
    // Rows pendingBegin_ up to pendingEnd_ of the document's image wait to be
    // copied into the display copy; a call to copy more is posted.
    std::uint32_t pendingBegin_ = 0;
    std::uint32_t pendingEnd_ = 0;
    bool copyPosted_ = false;
    // The display copy halved once, twice, ... (premultiplied), made when a
    // picture is first shown at less than half its size; rows staleBegin_ up
    // to staleEnd_ of the display copy changed since they were last made.
    std::vector<QImage> reductions_;
    std::uint32_t staleBegin_ = 0;
    std::uint32_t staleEnd_ = 0;
    Scaling scaling_ = Scaling::Fit;
    double zoom_ = 1;
    bool tiled_ = false;

    // The selection as last drawn: its tinted pixels and outline, made again
    // when its revision changes.
    QImage selectionTint_;
    std::vector<QLine> selectionOutline_;
    std::uint64_t selectionRevision_ = 0;
    // The shape being drawn with the mouse, in picture coordinates.
    struct Gesture {
        bool active = false;
        SelectionShape shape = SelectionShape::Rectangle;
        SelectionMode mode = SelectionMode::Replace;
        std::vector<QPointF> points;
        QPoint pressed;  // where the button went down, in the client area
        bool moved = false;
    };
    Gesture gesture_;
};

// The synthesis user interface plugs into the view through these hooks, which
// the application installs at start; without them the Synthesise command says
// that synthesis is not available.
struct SynthesisHooks {
    // Runs the Synthesise command for the view's document.
    std::function<void(CWeftloomView& view)> synthesise;
    // Ends the synthesis that writes into document (destroys its progress
    // dialog); called with progressLock held.
    std::function<void(CWeftloomDoc& document)> endSynthesis;
    // File > Synthesise Again for the view's document, and whether it can run.
    std::function<void(CWeftloomView& view)> synthesiseAgain;
    std::function<bool()> canSynthesiseAgain;
    // Stops the synthesis that writes into document at once; the document
    // stays, with what was made, marked unfinished. Called with progressLock held.
    std::function<void(CWeftloomDoc& document)> abortSynthesis;
    // Edit > Fill Selection (transparent false) and Fill Transparent Areas for
    // the view's document.
    std::function<void(CWeftloomView& view, bool transparent)> fill;
};
void SetSynthesisHooks(SynthesisHooks hooks);

// Stops the synthesis that writes into document, if one does, before the
// caller goes on (abortSynthesis); the document and its windows stay.
void AbortSynthesis(CWeftloomDoc& document);

}  // namespace weftloom
