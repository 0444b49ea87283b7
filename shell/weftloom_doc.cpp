#include "shell/weftloom_doc.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <string>
#include <vector>

#include "imageio/image_file.h"
#include "shell/framework/doc_template.h"
#include "shell/framework/message_box.h"
#include "shell/framework/progress_mutex.h"
#include "shell/picture_clipboard.h"
#include "shell/resources/resource_ids.h"
#include "shell/weftloom_view.h"

namespace weftloom {

namespace {
int synthesisCounter = 1;
int pastedCounter = 1;
}  // namespace

CWeftloomDoc::CWeftloomDoc() : progressLock(framework::ProgressMutex()), plainTitle_(Title()) {}

CWeftloomDoc::~CWeftloomDoc() = default;

int CWeftloomDoc::NextSynthesisNumber() {
    return synthesisCounter;
}

bool CWeftloomDoc::OnNewDocument() {
    if (!Document::OnNewDocument()) {
        return false;
    }
    SetTitle(QStringLiteral("<Empty>"));
    return true;
}

QString CWeftloomDoc::SavePathFor(const QString& path) const {
    return QString::fromStdString(weftloom::SavePathFor(path.toStdString()));
}

QStringList CWeftloomDoc::SaveFilters() const {
    // A name ending in .png writes PNG, any other TGA, whatever the document
    // was read from.
    return {QStringLiteral("TGA Images (*.tga)"), QStringLiteral("PNG Images (*.png)"),
            QStringLiteral("All Files (*)")};
}

void CWeftloomDoc::SetTitle(const QString& title) {
    plainTitle_ = title;
    Document::SetTitle(unfinished_ ? title + QStringLiteral(" (unfinished)") : title);
}

void CWeftloomDoc::SetUnfinished(bool unfinished) {
    if (unfinished_ != unfinished) {
        unfinished_ = unfinished;
        SetTitle(plainTitle_);
    }
}

QString CWeftloomDoc::SaveQuestion() const {
    QString question = Document::SaveQuestion();
    if (unfinished_) {
        question += QStringLiteral(
            "\n\nThe texture is unfinished: its synthesis was stopped before the end.");
    }
    return question;
}

bool CWeftloomDoc::OnCommand(int id) {
    switch (id) {
        case framework::command::kEditCopy:
            CopyPictureToClipboard(HasSelection() ? selection.CopySelected(image) : image);
            return true;
        case kIdSelectAll:
            EditSelection().SelectAll();
            SelectionChanged();
            return true;
        case kIdSelectNone:
            EditSelection().SelectNone();
            SelectionChanged();
            return true;
        case kIdSelectInvert:
            EditSelection().Invert();
            SelectionChanged();
            return true;
        case kIdCropToSelection:
            OnCropToSelection();
            return true;
        default:
            return Document::OnCommand(id);
    }
}

int CWeftloomDoc::CommandState(int id) const {
    switch (id) {
        case framework::command::kEditCopy:
        case kIdSelectAll:
        case kIdSelectInvert:
            return HasImage() ? 1 : 0;
        case kIdSelectNone:
        case kIdCropToSelection:
            return HasSelection() ? 1 : 0;
        default:
            return Document::CommandState(id);
    }
}

Selection& CWeftloomDoc::EditSelection() {
    if (!selection.Fits(image)) {
        selection.Reset(image.width, image.height);
    }
    return selection;
}

void CWeftloomDoc::SelectionChanged() {
    UpdateAllViews(nullptr, 0);
}

bool CWeftloomDoc::HasTransparency() const {
    if (transparency_ < 0) {
        transparency_ = 0;
        if (image.bytesPerPixel == 4) {
            for (std::size_t i = 3; i < image.pixels.size(); i += 4) {
                if (image.pixels[i] < 128) {
                    transparency_ = 1;
                    break;
                }
            }
        }
    }
    return transparency_ == 1;
}

void CWeftloomDoc::ImageReplaced() {
    transparency_ = -1;
    if (!selection.Fits(image)) {
        selection.Reset(image.width, image.height);
    }
}

void CWeftloomDoc::SetPastedImage(Image picture) {
    SetDerivedImage(std::move(picture), QStringLiteral("Pasted %1").arg(pastedCounter++));
}

void CWeftloomDoc::SetDerivedImage(Image picture, const QString& title) {
    image = std::move(picture);
    ImageReplaced();
    unfinished_ = false;
    SetTitle(title);
    SetModifiedFlag(true);
    for (framework::View* view : Views()) {
        if (auto* imageView = qobject_cast<CWeftloomView*>(view)) {
            imageView->FitToImage();
            imageView->RefreshRows(image, 0, image.height);
        }
    }
}

void CWeftloomDoc::OnCropToSelection() {
    if (!HasSelection() || Template() == nullptr) {
        return;
    }
    Image crop = CropImage(image, selection.Bounds());
    if (crop.IsEmpty()) {
        framework::MessageBox(QStringLiteral("There is not enough memory for the cropped picture."),
                              std::nullopt, framework::MessageButtons::Ok);
        return;
    }
    const QString title = PlainTitle() + QStringLiteral(" (cropped)");
    Template()->CreateDocument([&crop, &title](framework::Document& document) {
        auto& cropped = static_cast<CWeftloomDoc&>(document);
        if (!cropped.OnNewDocument()) {
            return false;
        }
        cropped.SetDerivedImage(std::move(crop), title);
        return true;
    });
}

bool CWeftloomDoc::Serialize(framework::Archive& archive) {
    const std::string path = archive.path.toStdString();
    if (!archive.IsStoring()) {
        Image loaded;
        std::string reason;
        if (!LoadImageFile(path, loaded, reason)) {
            // The file and the reader's reason go under the fixed line.
            framework::MessageBox(QString::fromLatin1(kReadErrorMessage) + QStringLiteral("\n\n") +
                                      QDir::toNativeSeparators(archive.path) +
                                      QStringLiteral(": ") + QString::fromStdString(reason),
                                  std::nullopt, framework::MessageButtons::Ok,
                                  framework::MessageIcon::Warning);
            return false;
        }
        image = std::move(loaded);
        ImageReplaced();
        SetTitle(QFileInfo(archive.path).fileName());
        return true;
    }
    if (image.IsEmpty()) {
        framework::MessageBox(QString::fromLatin1(kEmptyDocumentMessage), std::nullopt,
                              framework::MessageButtons::Ok);
        return false;
    }
    std::string written;
    std::string reason;
    if (!SaveImageFile(image, path, written, reason)) {
        // The fixed line, then why (a missing or read-only folder, a full disk).
        framework::MessageBox(QString::fromLatin1(kSaveErrorMessage) + QStringLiteral("\n\n") +
                                  QString::fromStdString(reason),
                              std::nullopt, framework::MessageButtons::Ok,
                              framework::MessageIcon::Warning);
        return false;
    }
    archive.writtenPath = QString::fromStdString(written);
    SetTitle(QFileInfo(archive.writtenPath).fileName());
    return true;
}

bool CWeftloomDoc::CreateImage(std::uint32_t width, std::uint32_t height,
                               std::uint32_t bytesPerPixel) {
    if (!image.Allocate(width, height, bytesPerPixel)) {
        return false;
    }
    ImageReplaced();
    unfinished_ = false;
    SetTitle(QStringLiteral("Synthesis %1").arg(synthesisCounter));
    ++synthesisCounter;
    for (framework::View* view : Views()) {
        if (auto* imageView = qobject_cast<CWeftloomView*>(view)) {
            imageView->FitToImage();
        }
    }
    return true;
}

void CWeftloomDoc::PreviewRow(const std::uint8_t* rowPixels, std::uint32_t levelWidth,
                              std::uint32_t levelHeight, std::uint32_t row) {
    const std::uint32_t width = image.width;
    const std::uint32_t height = image.height;
    if (image.IsEmpty() || rowPixels == nullptr || levelWidth == 0 || levelHeight == 0 ||
        row >= height) {
        return;
    }
    levelWidth = std::min(levelWidth, width);
    levelHeight = std::min(levelHeight, height);
    const std::uint32_t xScale = width / levelWidth;
    const std::uint32_t yScale = height / levelHeight;
    const std::uint64_t firstRow = std::uint64_t{row} * yScale;
    if (firstRow >= height) {
        return;
    }
    const std::uint32_t bpp = image.bytesPerPixel == 4 ? 4 : 3;
    std::vector<std::uint8_t> enlarged;
    enlarged.reserve(std::size_t{bpp} * xScale * levelWidth);
    for (std::uint32_t x = 0; x < levelWidth; ++x) {
        for (std::uint32_t k = 0; k < xScale; ++k) {
            enlarged.insert(enlarged.end(), rowPixels + std::size_t{x} * bpp,
                            rowPixels + std::size_t{x + 1} * bpp);
        }
    }
    // A row past the level's height would run past the image: stop at its end.
    const std::uint64_t endRow = std::min<std::uint64_t>(firstRow + yScale, height);
    const bool everywhere = previewHole.size() != std::size_t{width} * height;
    for (std::uint64_t y = firstRow; y < endRow; ++y) {
        std::uint8_t* target = image.PixelAt(0, static_cast<std::uint32_t>(y));
        if (everywhere) {
            std::copy(enlarged.begin(), enlarged.end(), target);
            continue;
        }
        const std::uint8_t* hole = previewHole.data() + y * width;
        for (std::size_t x = 0; x < enlarged.size() / bpp; ++x) {
            if (hole[x] != 0) {
                std::copy_n(enlarged.begin() + static_cast<std::ptrdiff_t>(x * bpp), bpp,
                            target + x * bpp);
            }
        }
    }
    transparency_ = -1;
    for (framework::View* view : Views()) {
        if (auto* imageView = qobject_cast<CWeftloomView*>(view)) {
            imageView->RefreshRows(image, static_cast<std::uint32_t>(firstRow),
                                   static_cast<std::uint32_t>(endRow));
        }
    }
    SetModifiedFlag(true);
}

}  // namespace weftloom
