#pragma once

#include <QImage>

#include <functional>

#include <cstdint>
#include <vector>

#include "engine/image.h"
#include "shell/framework/view.h"

namespace weftloom {

class CWeftloomDoc;

// The description of the view's display copy: a top-down bitmap whose rows are
// padded to a multiple of four pixels (1 to 4 more than the image), pixels in
// blue, green, red (, alpha) order.
struct DisplayBitmapInfo {
    std::int32_t width = 0;       // the image's width rounded up past a multiple of 4
    std::int32_t height = 0;      // minus the image's height: top-down
    std::uint16_t bitCount = 0;   // 24 or 32
    std::uint32_t sizeImage = 0;  // height x bytes per pixel x image width
};

// Shows its document's image stretched over the whole client area (Fit, the
// start) or at a zoom factor with scrolling, once or repeated 2 x 2 (Tiled),
// from a display copy that is refreshed row by row while a synthesis runs.
// Carries the Synthesise, zoom and Tiled commands and the enabling of
// Synthesise and Save As; its end stops a synthesis that writes into its
// document. User-interface thread only.
class CWeftloomView : public framework::View {
    Q_OBJECT
  public:
    explicit CWeftloomView(CWeftloomDoc* document);
    ~CWeftloomView() override;

    CWeftloomDoc* GetDocument() const;

    // Brings rows firstRow up to endRow of image into the display copy (all
    // rows when the copy has to be built first) and repaints.
    void RefreshRows(const Image& image, std::uint32_t firstRow, std::uint32_t endRow);
    // Scroll sizes from the image, doubled until both sides are at least 128,
    // and the frame resized so the client area is exactly that size.
    void FitToImage();

    void OnInitialUpdate() override;
    QString StatusText() const override;
    bool OnCommand(int id) override;
    int CommandState(int id) const override;

    // The display copy as built, for tests: empty before the first refresh.
    const std::vector<std::uint8_t>& BitmapBits() const { return bitmapBits_; }
    const DisplayBitmapInfo& BitmapInfo() const { return bitmapInfo_; }
    bool HasBitmap() const { return !bitmapBits_.empty(); }
    // The zoom factor; 0 while the image is stretched over the window (Fit).
    double Zoom() const { return zoom_; }
    bool Tiled() const { return tiled_; }

  protected:
    void OnDestroy() override;
    void OnDraw(QPainter& painter) override;
    // Ctrl+wheel zooms; the plain wheel scrolls.
    void wheelEvent(QWheelEvent* event) override;

  private:
    void OnSynthesise();
    bool BuildBitmap(const Image& image);
    // Sets the zoom (0: Fit) and the tiling, with the scroll sizes they need.
    void SetZoom(double zoom, bool tiled);

    std::vector<std::uint8_t> bitmapBits_;
    DisplayBitmapInfo bitmapInfo_;
    QImage display_;  // wraps bitmapBits_
    double zoom_ = 0;
    bool tiled_ = false;
    QSize fitSizes_;  // the scroll sizes of Fit
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
};
void SetSynthesisHooks(SynthesisHooks hooks);

}  // namespace weftloom
