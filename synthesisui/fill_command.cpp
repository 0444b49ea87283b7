#include "synthesisui/fill_command.h"

#include <QLocale>

#include "engine/memory_estimate.h"
#include "shell/framework/data_exchange.h"
#include "shell/framework/doc_template.h"
#include "shell/framework/message_box.h"
#include "shell/main_frame.h"
#include "shell/weftloom_app.h"
#include "shell/weftloom_doc.h"
#include "shell/weftloom_view.h"
#include "synthesisui/synthesise_command.h"

namespace weftloom {

namespace {

// Control ids of the fill dialog.
constexpr int kInputFile = 1000;
constexpr int kHolePixels = 1001;
constexpr int kSourceLimit = 1002;
constexpr int kSeed = 1003;

FillChoice& LastChoice() {
    static FillChoice choice;
    return choice;
}

void Tell(const QString& text) {
    framework::MessageBox(text, std::nullopt, framework::MessageButtons::Ok);
}

// Why hole in picture cannot be filled, for the user; empty when it can.
QString CheckFill(const CWeftloomDoc& picture, const HoleMask& hole, bool transparent,
                  std::uint64_t memoryLimit) {
    const Image& image = picture.image;
    const std::uint64_t pixels = HolePixels(hole);
    if (pixels == 0) {
        return transparent ? QStringLiteral("There is nothing to fill: no pixel is transparent.")
                           : QStringLiteral("There is nothing to fill: no pixel is selected.");
    }
    if (pixels == std::uint64_t{image.width} * image.height) {
        return transparent ? QStringLiteral(
                                 "Every pixel is transparent: there is nothing to "
                                 "fill from.")
                           : QStringLiteral(
                                 "Every pixel is selected: there is nothing to fill "
                                 "from. Select only what is to be made anew.");
    }
    const std::uint64_t needed = EstimateFillMemory(image.width, image.height, image.bytesPerPixel);
    const std::uint64_t allowed = memoryLimit != 0 ? memoryLimit : PhysicalMemory();
    if (allowed != 0 && needed > allowed) {
        return QStringLiteral("Filling this picture needs about %1 of memory, more than the %2 %3.")
            .arg(QString::fromStdString(FormatBytes(needed)))
            .arg(QString::fromStdString(FormatBytes(allowed)))
            .arg(memoryLimit != 0 ? QStringLiteral("allowed to a synthesis")
                                  : QStringLiteral("this computer has"));
    }
    return {};
}

}  // namespace

FillJob::FillJob(HoleMask hole, const FillChoice& choice, bool opaque) : hole_(std::move(hole)) {
    fill.sourceLimit = choice.sourceLimit;
    fill.randomSeed = choice.seed;
    fill.opaque = opaque;
}

void FillJob::Prepare(const CWeftloomDoc& input, const CWeftloomDoc& output,
                      ProgressCallback callback, void* context) {
    (void)output;  // the result is the picture's size
    fill.progressCallback = callback;
    fill.callbackContext = context;
    picture_ = input.image;
}

bool FillJob::Run() {
    return fill.Fill(picture_, hole_);
}

const Image* FillJob::Result() const {
    return fill.refusal == FillRefusal::kNone && !fill.result.IsEmpty() ? &fill.result : nullptr;
}

QString FillJob::FailureText() const {
    return QStringLiteral("The fill could not be completed: %1.")
        .arg(QString::fromLatin1(FillRefusalText(fill.refusal)));
}

CFillParamsDlg::CFillParamsDlg(QWidget* parent) : QDialog(parent) {
    framework::BuildDialog(*this, Template());
}

framework::DialogTemplate CFillParamsDlg::Template() {
    using framework::ControlKind;
    using framework::kGroup;
    using framework::kTabStop;
    framework::DialogTemplate t =
        framework::StandardDialogTemplate(133, QStringLiteral("Fill"), 228, 104);
    t.controls = {
        {-1, ControlKind::Label, "Picture :", 8, 10, 64, 8, kGroup},
        {kInputFile, ControlKind::SunkenLabel, "...", 76, 8, 144, 12, kGroup},
        {-1, ControlKind::Label, "To fill :", 8, 27, 64, 8},
        {kHolePixels, ControlKind::Label, "", 76, 27, 144, 8},
        {-1, ControlKind::Label, "Copy &from within", 8, 45, 64, 8, kGroup},
        {kSourceLimit, ControlKind::DigitsEdit, "", 76, 42, 40, 14, kTabStop},
        {-1, ControlKind::Label, "pixels of it (0: anywhere)", 120, 45, 100, 8, kGroup},
        {-1, ControlKind::Label, "S&eed", 8, 65, 64, 8, kGroup},
        {kSeed, ControlKind::DigitsEdit, "", 76, 62, 40, 14, kTabStop},
        {1, ControlKind::DefaultPushButton, "OK", 108, 84, 50, 14, kGroup | kTabStop},
        {2, ControlKind::PushButton, "Cancel", 170, 84, 50, 14, kTabStop},
    };
    return t;
}

int CFillParamsDlg::DoModal() {
    UpdateData(false);
    return exec() == QDialog::Accepted ? 1 : 2;
}

bool CFillParamsDlg::UpdateData(bool saveAndValidate) {
    framework::DataExchange dx(*this, saveAndValidate);
    dx.Text(kInputFile, inputFile);
    dx.Text(kHolePixels, holeText);
    dx.Text(kSourceLimit, choice.sourceLimit);
    dx.Text(kSeed, choice.seed);
    return !dx.Failed();
}

void CFillParamsDlg::accept() {
    if (UpdateData(true)) {
        QDialog::accept();
    }
}

CSynthesisProgressDlg* StartFill(CWeftloomDoc& picture, HoleMask hole, const FillChoice& choice,
                                 bool opaque) {
    CWeftloomApp* application = CWeftloomApp::Instance();
    if (!picture.HasImage() || application == nullptr || application->Templates().empty()) {
        return nullptr;
    }
    if (const QString refusal = CheckFill(picture, hole, opaque, application->memoryLimit);
        !refusal.isEmpty()) {
        Tell(refusal);
        return nullptr;
    }
    // The new window starts as a copy of the picture: the fill shows in it as
    // it goes, and only in the hole.
    Image start = picture.image;
    if (start.IsEmpty()) {
        Tell(QStringLiteral("There is not enough memory for a copy of the picture."));
        return nullptr;
    }
    const QString title = picture.PlainTitle() + QStringLiteral(" (filled)");
    auto* output = qobject_cast<CWeftloomDoc*>(application->Templates().front()->CreateDocument(
        [&start, &title](framework::Document& document) {
            auto& filled = static_cast<CWeftloomDoc&>(document);
            if (!filled.OnNewDocument()) {
                return false;
            }
            filled.SetDerivedImage(std::move(start), title);
            return true;
        }));
    if (output == nullptr) {
        Tell(QStringLiteral("The new document could not be created."));
        return nullptr;
    }
    output->previewHole = hole;
    CSynthesisProgressDlg* progress =
        StartProgress(picture, *output, std::make_unique<FillJob>(std::move(hole), choice, opaque));
    if (progress == nullptr) {
        output->OnCloseDocument();
        return nullptr;
    }
    progress->setWindowTitle(QStringLiteral("Fill Progress..."));
    return progress;
}

void OnFill(CWeftloomView& view, bool transparent) {
    CWeftloomDoc* picture = view.GetDocument();
    CWeftloomApp* application = CWeftloomApp::Instance();
    if (picture == nullptr || !picture->HasImage() || application == nullptr) {
        return;
    }
    HoleMask hole = transparent
                        ? HoleFromTransparency(picture->image)
                        : (picture->HasSelection() ? picture->selection.Mask() : HoleMask());
    // Refused before the dialog: nothing typed there would help.
    if (const QString refusal = CheckFill(*picture, hole, transparent, application->memoryLimit);
        !refusal.isEmpty()) {
        Tell(refusal);
        return;
    }
    CFillParamsDlg dialog(application->MainFrame());
    dialog.inputFile = picture->Title();
    const std::uint64_t pixels = HolePixels(hole);
    dialog.holeText =
        QStringLiteral("%1 %2 (%3%)")
            .arg(QLocale::system().toString(static_cast<qulonglong>(pixels)))
            .arg(transparent ? QStringLiteral("transparent pixels")
                             : QStringLiteral("selected pixels"))
            .arg(static_cast<double>(pixels) * 100 /
                     (static_cast<double>(picture->image.width) * picture->image.height),
                 0, 'f', 1);
    dialog.choice = LastChoice();
    if (dialog.DoModal() != 1) {
        return;
    }
    LastChoice() = dialog.choice;
    StartFill(*picture, std::move(hole), dialog.choice, transparent);
}

void ResetFillChoice() {
    LastChoice() = FillChoice{};
}

}  // namespace weftloom
