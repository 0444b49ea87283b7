#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/image.h"
#include "shell/framework/document.h"
#include "shell/selection.h"

namespace weftloom {

class CSynthesisProgressDlg;

// The image document: one picture read from a TGA or JPEG file, the output of
// a synthesis or a fill, a part cut out of another, or nothing. It keeps the
// selection its windows show and change. While a run writes into it, progressDialog
// points to the dialog doing so; that link is guarded by progressLock, the
// process-wide re-entrant "Progress Mutex". User-interface thread only; a
// running synthesis works on its own copy of its sample.
class CWeftloomDoc : public framework::Document {
    Q_OBJECT
  public:
    CWeftloomDoc();
    ~CWeftloomDoc() override;

    // A new document: titled "<Empty>", no image.
    bool OnNewDocument() override;
    QString SavePathFor(const QString& path) const override;
    QStringList SaveFilters() const override;

    // Gives the document a black width x height image and the title
    // "Synthesis N" with the next number of this run, and fits its views.
    // False when the image cannot be allocated (the document is left empty;
    // the title is not used up).
    bool CreateImage(std::uint32_t width, std::uint32_t height, std::uint32_t bytesPerPixel);

    // Makes picture, taken from the clipboard, the document's image, titled
    // "Pasted N" with the next number of this run; the document is modified,
    // as the picture is in no file yet.
    void SetPastedImage(Image picture);
    // Makes picture the document's image under title: a new picture made from
    // another document's (cropped, filled), modified as it is in no file yet.
    void SetDerivedImage(Image picture, const QString& title);

    // Paints one finished row of a pyramid level, enlarged to the image's size,
    // into the image, refreshes the views' copies of those rows and marks the
    // document modified. rowPixels holds levelWidth pixels of the image's size.
    void PreviewRow(const std::uint8_t* rowPixels, std::uint32_t levelWidth,
                    std::uint32_t levelHeight, std::uint32_t row);

    bool HasImage() const { return !image.IsEmpty(); }
    // Whether some pixel of the image is less than half opaque (alpha below 128).
    bool HasTransparency() const;
    // Forgets what was worked out from the image, whose pixels were just
    // replaced; the selection stays when the size does.
    void ImageReplaced();
    // Whether pixels of the image are selected.
    bool HasSelection() const { return selection.Fits(image) && !selection.IsEmpty(); }
    // The selection, made the image's size (nothing selected) if it was not.
    Selection& EditSelection();
    // Redraws the selection in every window of the document.
    void SelectionChanged();
    // The title without the unfinished mark, the name new pictures made from
    // this one are named after.
    QString PlainTitle() const { return plainTitle_; }

    // Whether the image is what a synthesis stopped before its end left: the
    // title then ends in " (unfinished)", whatever name it is saved under, and
    // the question before closing it unsaved says so. A new image (CreateImage)
    // is not unfinished.
    void SetUnfinished(bool unfinished);
    bool IsUnfinished() const { return unfinished_; }

    // The title as given, " (unfinished)" added when the image is.
    void SetTitle(const QString& title) override;
    QString SaveQuestion() const override;

    // Copy puts the image, or its selected part, on the clipboard; Select All,
    // Select None, Invert Selection and Crop to Selection; then the base's
    // commands.
    bool OnCommand(int id) override;
    int CommandState(int id) const override;

    Image image;
    // The pixels a fill makes anew while it writes into the document (one
    // byte a pixel, non-zero for them): previews go to these pixels only, so
    // that the rest of the picture stays as it is. Empty: previews go everywhere.
    std::vector<std::uint8_t> previewHole;
    Selection selection;
    CSynthesisProgressDlg* progressDialog = nullptr;
    std::recursive_mutex& progressLock;

    // The next "Synthesis N" number (tests).
    static int NextSynthesisNumber();

  protected:
    bool Serialize(framework::Archive& archive) override;

  private:
    // Crop to Selection: the selection's bounding rectangle in a new document.
    void OnCropToSelection();
    QString plainTitle_;  // the title without the unfinished mark
    bool unfinished_ = false;
    mutable int transparency_ = -1;  // HasTransparency worked out: 0 or 1; -1 not yet
};

inline constexpr const char kReadErrorMessage[] = "An error occured while reading the file";
inline constexpr const char kSaveErrorMessage[] = "An error occured while saving the file";
inline constexpr const char kEmptyDocumentMessage[] = "This is an empty document";

}  // namespace weftloom
