#include "synthesisui/synthesis_params_dlg.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QRadioButton>

#include <QSignalBlocker>

#include <algorithm>

#include "engine/memory_estimate.h"
#include "engine/texture_synthesiser.h"
#include "imageio/tga_writer.h"
#include "shell/framework/data_exchange.h"
#include "shell/framework/message_box.h"

namespace weftloom {

namespace {

using framework::ControlKind;
using framework::kGroup;
using framework::kTabStop;

constexpr int kInputFile = 1000;
constexpr int kWidth = 1001;
constexpr int kHeight = 1002;
constexpr int kLevel1 = 1008;
constexpr int kLevel2 = 1009;
constexpr int kLevel3 = 1010;
constexpr int kPixelCount = 1012;
constexpr int kMinimumPixelCount = 1013;
constexpr int kMetricL1 = 1014;
constexpr int kDisable = 1017;
constexpr int kPercentage = 1018;
constexpr int kPercent = 1019;
constexpr int kFixedCount = 1020;
constexpr int kSeed = 1021;
constexpr int kSearch = 1022;
// The Advanced part: its toggle and the fields it shows.
constexpr int kAdvanced = 1023;
constexpr int kAdvancedBox = 1024;
constexpr int kSimilar = 1025;
constexpr int kCorrections = 1026;
constexpr int kRandomTries = 1027;
constexpr int kSpread = 1028;
constexpr int kMaxPiece = 1029;
constexpr int kThreads = 1030;
constexpr int kBalance = 1031;
constexpr int kCourses = 1032;
constexpr int kAdvancedIds[] = {kAdvancedBox, kSimilar, kCorrections, kRandomTries, kSpread,
                                kMaxPiece,    kBalance, kThreads,     kCourses};
constexpr int kCoherentIds[] = {kSimilar,  kCorrections, kRandomTries, kSpread,
                                kMaxPiece, kBalance,     kCourses};

// The bounds weftloom-synth takes for the same settings.
struct Bounds {
    int id;
    std::uint32_t SynthesisSettings::*field;
    int min;
    int max;
};
constexpr Bounds kAdvancedBounds[] = {
    {kSimilar, &SynthesisSettings::coherenceSetSize, 0, 64},
    {kCorrections, &SynthesisSettings::correctionPasses, 0, 16},
    {kRandomTries, &SynthesisSettings::randomCandidates, 0, 64},
    {kSpread, &SynthesisSettings::occurrenceWeight, 0, 1024},
    {kMaxPiece, &SynthesisSettings::pieceLimitPercent, 1, 100},
    {kBalance, &SynthesisSettings::balanceWeight, 0, 1024},
    {kThreads, &SynthesisSettings::threadCount, 0, 256},
};

// Dialog units the Advanced part adds below the rest when it is open.
constexpr int kAdvancedHeight = 92;
constexpr int kButtonRow = 206;
constexpr int kHeightClosed = 231;

constexpr int kMinimumSize = 32;
constexpr int kMaximumSize = 999999;

// The exchange works on 32-bit signed values; enum and unsigned fields go
// through one, bit for bit.
template <class T>
void TextAs(framework::DataExchange& dx, int id, T& value) {
    auto exchanged = static_cast<std::int32_t>(value);
    dx.Text(id, exchanged);
    value = static_cast<T>(exchanged);
}

template <class E>
void CBIndexAs(framework::DataExchange& dx, int id, E& value) {
    auto exchanged = static_cast<std::int32_t>(value);
    dx.CBIndex(id, exchanged);
    value = static_cast<E>(exchanged);
}

template <class E>
void RadioAs(framework::DataExchange& dx, int id, E& value) {
    auto exchanged = static_cast<std::int32_t>(value);
    dx.Radio(id, exchanged);
    value = static_cast<E>(exchanged);
}

}  // namespace

framework::DialogTemplate CSynthesisParamsDlg::Template() {
    framework::DialogTemplate t = framework::StandardDialogTemplate(
        130, QStringLiteral("Synthesis Parameters"), 348, kHeightClosed);
    const auto edit = ControlKind::DigitsEdit;
    const auto label = ControlKind::Label;
    const auto radio = ControlKind::AutoRadioButton;
    const auto list = ControlKind::DropDownList;
    const auto box = ControlKind::GroupBox;
    const unsigned first = kGroup | kTabStop;
    // In the order the eye reads them, which is also the order Tab goes: the
    // left column, the right column, the Advanced part, the buttons. A radio
    // group runs on past the edits that belong to its options.
    t.controls = {
        {-1, label, "Input file :", 16, 12, 32, 8, kGroup},
        {kInputFile, ControlKind::SunkenLabel, "...", 52, 10, 113, 12, kGroup},
        {-1, box, "New Image", 16, 28, 148, 64},
        {-1, label, "&Width", 28, 47, 20, 8, kGroup},
        {kWidth, edit, "", 63, 44, 40, 14, kTabStop},
        {-1, label, "&Height", 28, 67, 22, 8, kGroup},
        {kHeight, edit, "", 63, 64, 40, 14, kTabStop},
        {-1, box, "Subsampling", 16, 100, 148, 100},
        {kDisable, radio, "&Disable", 24, 116, 39, 10, first},
        {kPercentage, radio, "S&ubsample to", 24, 136, 56, 10, kTabStop},
        {kPercent, edit, "", 84, 134, 28, 14, kTabStop},
        {-1, label, "%", 114, 137, 8, 8},
        {-1, label, "Minimum pi&xel count :", 36, 155, 68, 8},
        {kMinimumPixelCount, edit, "", 108, 152, 40, 14, kTabStop},
        {kFixedCount, radio, "Su&bsample to", 24, 178, 56, 10, kTabStop},
        {kPixelCount, edit, "", 84, 176, 40, 14, kTabStop},
        {-1, label, "pixels", 128, 179, 18, 8, kGroup},
        {-1, box, "Accuracy", 180, 4, 148, 88},
        {-1, label, "Level 1", 192, 18, 24, 8, kGroup},
        {kLevel1, list, "", 228, 16, 48, 55, kTabStop},
        {-1, label, "Level 2", 192, 37, 24, 8, kGroup},
        {kLevel2, list, "", 228, 35, 48, 48, kTabStop},
        {-1, label, "Level 3", 192, 57, 24, 8, kGroup},
        {kLevel3, list, "", 228, 55, 48, 48, kTabStop},
        {-1, label, "Lower accuracy is faster, but may miss essential texture features", 188, 72,
         129, 16, kGroup},
        {-1, box, "&Distance metric", 180, 100, 148, 60},
        {kMetricL1, radio, "L&1 : sum of abs", 192, 116, 64, 10, first},
        {1015, radio, "L&2 : Euclidian", 192, 128, 59, 10, kTabStop},
        {1016, radio, "L&inf : largest abs", 192, 140, 67, 10, kTabStop},
        {-1, label, "S&eed", 192, 165, 24, 8, kGroup},
        {kSeed, edit, "", 228, 162, 48, 14, kTabStop},
        {-1, label, "Sea&rch", 192, 185, 24, 8, kGroup},
        {kSearch, list, "", 228, 183, 96, 40, kTabStop},
        // The Advanced part, hidden while it is closed.
        {kAdvancedBox, box, "Coherent search", 16, 204, 312, 66},
        {-1, label, "Look-alike positions (&k)", 24, 220, 88, 8, kGroup},
        {kSimilar, edit, "", 120, 217, 36, 14, kTabStop},
        {-1, label, "C&orrection passes", 24, 238, 88, 8, kGroup},
        {kCorrections, edit, "", 120, 235, 36, 14, kTabStop},
        {-1, label, "Ra&ndom tries", 24, 256, 88, 8, kGroup},
        {kRandomTries, edit, "", 120, 253, 36, 14, kTabStop},
        {-1, label, "S&pread", 192, 220, 76, 8, kGroup},
        {kSpread, edit, "", 276, 217, 40, 14, kTabStop},
        {-1, label, "Lar&gest piece (%)", 192, 238, 76, 8, kGroup},
        {kMaxPiece, edit, "", 276, 235, 40, 14, kTabStop},
        {-1, label, "Ba&lance", 192, 256, 76, 8, kGroup},
        {kBalance, edit, "", 276, 253, 40, 14, kTabStop},
        {-1, label, "&Threads (0: every core)", 24, 279, 88, 8, kGroup},
        {kThreads, edit, "", 120, 276, 36, 14, kTabStop},
        {-1, label, "&Courses", 192, 279, 76, 8, kGroup},
        {kCourses, list, "", 276, 276, 48, 60, kTabStop},
        {kAdvanced, ControlKind::PushButton, "&Advanced", 16, kButtonRow, 60, 14, first},
        {1, ControlKind::DefaultPushButton, "OK", 212, kButtonRow, 50, 14, kTabStop},
        {2, ControlKind::PushButton, "Cancel", 273, kButtonRow, 50, 14, kTabStop},
    };
    return t;
}

CSynthesisParamsDlg::CSynthesisParamsDlg(QWidget* parent) : QDialog(parent) {
    const framework::DialogTemplate dialogTemplate = Template();
    framework::BuildDialog(*this, dialogTemplate);

    const QStringList threeLevels = {QStringLiteral("High"), QStringLiteral("Medium"),
                                     QStringLiteral("Low")};
    for (int id : {kLevel1, kLevel2}) {
        qobject_cast<QComboBox*>(framework::ControlById(*this, id))->addItems(threeLevels);
    }
    // The coarsest of the three levels has no "Low".
    qobject_cast<QComboBox*>(framework::ControlById(*this, kLevel3))
        ->addItems({QStringLiteral("High"), QStringLiteral("Medium")});

    for (int id : {kDisable, kPercentage, kFixedCount}) {
        connect(qobject_cast<QAbstractButton*>(framework::ControlById(*this, id)),
                &QAbstractButton::clicked, this, &CSynthesisParamsDlg::UpdateSubsamplingControls);
    }
    // In the order of SearchMethod.
    auto* search = qobject_cast<QComboBox*>(framework::ControlById(*this, kSearch));
    search->addItems({QStringLiteral("Exact"), QStringLiteral("Coherent (fast)")});
    connect(search, &QComboBox::activated, this, &CSynthesisParamsDlg::UpdateSubsamplingControls);
    // In the order of CourseLayout.
    qobject_cast<QComboBox*>(framework::ControlById(*this, kCourses))
        ->addItems({QStringLiteral("Auto"), QStringLiteral("Off"), QStringLiteral("Rows"),
                    QStringLiteral("Columns")});

    // Tab stops once in a radio group, at its chosen option, as the arrows
    // then go through the others.
    for (int id : {kDisable, kPercentage, kFixedCount, kMetricL1, 1015, 1016}) {
        framework::ControlById(*this, id)->installEventFilter(this);
    }

    // The Advanced part: every control inside its box, shown or hidden
    // together, and the button row below it, moved down while it is open.
    const framework::DialogBaseUnits base = framework::BaseUnitsOf(font());
    QRect box;
    for (const framework::ControlTemplate& control : dialogTemplate.controls) {
        if (control.id == kAdvancedBox) {
            box = QRect(control.x, control.y, control.width, kAdvancedHeight - 4);
        }
    }
    for (const framework::ControlTemplate& control : dialogTemplate.controls) {
        if (control.y == kButtonRow) {
            const QRect closed(control.x, control.y, control.width, control.height);
            buttonRow_.push_back(
                {framework::ControlById(*this, control.id),
                 framework::DialogUnitsToPixels(closed, base),
                 framework::DialogUnitsToPixels(closed.translated(0, kAdvancedHeight), base)});
        }
    }
    box = framework::DialogUnitsToPixels(box, base);
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const bool button =
            std::any_of(buttonRow_.begin(), buttonRow_.end(),
                        [child](const ButtonPlace& b) { return b.button == child; });
        if (!button && box.contains(child->geometry())) {
            advancedPart_.push_back(child);
        }
    }
    const auto sized = [&](int height) {
        return framework::DialogUnitsToPixels(QRect(0, 0, dialogTemplate.width, height), base)
            .size();
    };
    closedSize_ = sized(kHeightClosed);
    openSize_ = sized(kHeightClosed + kAdvancedHeight);
    auto* advanced = qobject_cast<QAbstractButton*>(framework::ControlById(*this, kAdvanced));
    advanced->setCheckable(true);
    connect(advanced, &QAbstractButton::toggled, this, [this, advanced](bool open) {
        // Closing keeps what was typed: it must be a valid value first, as
        // leaving a subsampling mode does.
        if (!open && !UpdateData(true)) {
            const QSignalBlocker blocker(advanced);
            advanced->setChecked(true);
            return;
        }
        ShowAdvanced(open);
    });
    ShowAdvanced(false);
}

bool CSynthesisParamsDlg::eventFilter(QObject* watched, QEvent* event) {
    auto* radio = qobject_cast<QRadioButton*>(watched);
    if (radio != nullptr && event->type() == QEvent::FocusIn && !radio->isChecked()) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        QAbstractButton* chosen =
            radio->group() != nullptr ? radio->group()->checkedButton() : nullptr;
        if (chosen != nullptr && chosen->isEnabled() &&
            (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)) {
            chosen->setFocus(reason);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CSynthesisParamsDlg::ShowAdvanced(bool open) {
    for (QWidget* widget : advancedPart_) {
        widget->setVisible(open);
    }
    for (const ButtonPlace& place : buttonRow_) {
        place.button->setGeometry(open ? place.open : place.closed);
    }
    setFixedSize(open ? openSize_ : closedSize_);
    auto* advanced = qobject_cast<QAbstractButton*>(framework::ControlById(*this, kAdvanced));
    const QSignalBlocker blocker(advanced);
    advanced->setChecked(open);
    advanced->setText(open ? QStringLiteral("&Advanced <<") : QStringLiteral("&Advanced >>"));
}

bool CSynthesisParamsDlg::AdvancedShown() const {
    return !advancedPart_.empty() && advancedPart_.front()->isVisibleTo(this);
}

int CSynthesisParamsDlg::DoModal() {
    return exec() == QDialog::Accepted ? 1 : 2;
}

bool CSynthesisParamsDlg::UpdateData(bool saveAndValidate) {
    framework::DataExchange dx(*this, saveAndValidate);
    DoDataExchange(dx);
    return !dx.Failed();
}

void CSynthesisParamsDlg::DoDataExchange(framework::DataExchange& dx) {
    minimumPixelCountEdit = qobject_cast<QLineEdit*>(dx.Control(kMinimumPixelCount));
    percentEdit = qobject_cast<QLineEdit*>(dx.Control(kPercent));
    pixelCountEdit = qobject_cast<QLineEdit*>(dx.Control(kPixelCount));
    dx.Text(kHeight, outputHeight);
    dx.MinMaxInt(kHeight, outputHeight, kMinimumSize, kMaximumSize);
    dx.Text(kWidth, outputWidth);
    dx.MinMaxInt(kWidth, outputWidth, kMinimumSize, kMaximumSize);
    dx.Text(kInputFile, inputFile);
    CBIndexAs(dx, kLevel1, settings.levelAccuracy[0]);
    CBIndexAs(dx, kLevel2, settings.levelAccuracy[1]);
    CBIndexAs(dx, kLevel3, settings.levelAccuracy[2]);
    dx.Text(kPixelCount, settings.subsampleCount);
    RadioAs(dx, kMetricL1, settings.metric);
    RadioAs(dx, kDisable, settings.subsamplingMode);
    TextAs(dx, kPercent, settings.subsamplePercent);
    TextAs(dx, kMinimumPixelCount, settings.minimumPixelCount);
    dx.Text(kSeed, settings.randomSeed);
    CBIndexAs(dx, kSearch, settings.searchMethod);
    CBIndexAs(dx, kCourses, settings.courses);
    for (const Bounds& bounds : kAdvancedBounds) {
        std::uint32_t& value = settings.*bounds.field;
        dx.Text(bounds.id, value);
        dx.MinMaxInt(bounds.id,
                     static_cast<std::int32_t>(std::min<std::uint32_t>(value, INT32_MAX)),
                     bounds.min, bounds.max);
    }
}

void CSynthesisParamsDlg::UpdateSubsamplingControls() {
    // A failed check leaves subsamplingMode as it was, and that is what the
    // enabling follows.
    UpdateData(true);
    EnableSubsamplingEdits();
}

void CSynthesisParamsDlg::EnableSubsamplingEdits() {
    // Subsampling concerns the exact search only.
    const bool exact = settings.searchMethod != SearchMethod::Coherent;
    const SubsamplingMode mode = settings.subsamplingMode;
    pixelCountEdit->setEnabled(exact && mode == SubsamplingMode::FixedCount);
    percentEdit->setEnabled(exact && mode == SubsamplingMode::Percentage);
    minimumPixelCountEdit->setEnabled(exact && mode == SubsamplingMode::Percentage);
    for (int id : {kDisable, kPercentage, kFixedCount}) {
        framework::ControlById(*this, id)->setEnabled(exact);
    }
    // The Advanced part's coherent settings concern that search only.
    for (int id : kCoherentIds) {
        framework::ControlById(*this, id)->setEnabled(!exact);
    }
}

void CSynthesisParamsDlg::OnInitDialog() {
    given_ = Current();
    UpdateData(false);
    // No check yet: a sample smaller than the size range must not greet the
    // user with a message before the dialog is even seen.
    minimumPixelCountEdit =
        qobject_cast<QLineEdit*>(framework::ControlById(*this, kMinimumPixelCount));
    percentEdit = qobject_cast<QLineEdit*>(framework::ControlById(*this, kPercent));
    pixelCountEdit = qobject_cast<QLineEdit*>(framework::ControlById(*this, kPixelCount));
    EnableSubsamplingEdits();
    ShowAdvanced(false);
}

void CSynthesisParamsDlg::setVisible(bool visible) {
    // Set up before the window appears, so the first picture is already right
    // and a failed check focuses its field before the dialog takes the focus.
    if (visible && !isVisible()) {
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

RunRefusal CheckRun(const Image* sample, std::uint32_t width, std::uint32_t height,
                    const SynthesisSettings& settings, std::uint64_t memoryLimit) {
    RunRefusal refusal;
    if (width > kMaxTgaSide || height > kMaxTgaSide) {
        refusal.text =
            QStringLiteral("An image can be saved with at most %1 pixels a side.").arg(kMaxTgaSide);
        refusal.field = height > kMaxTgaSide ? kHeight : kWidth;
        return refusal;
    }
    const SynthesisProblem problem =
        sample != nullptr ? CheckSynthesis(*sample, width, height, settings)
        : TextureSynthesiser::OutputFits(width, height) ? SynthesisProblem::None
                                                        : SynthesisProblem::OutputTooLarge;
    switch (problem) {
        case SynthesisProblem::None:
            break;
        case SynthesisProblem::EmptySample:
        case SynthesisProblem::UnsupportedSample:
            refusal.text = QStringLiteral("This image cannot be used as a sample.");
            return refusal;
        case SynthesisProblem::OutputTooLarge:
            refusal.text = QStringLiteral("An image of %1 x %2 pixels is too large to synthesise.")
                               .arg(width)
                               .arg(height);
            refusal.field = kWidth;
            return refusal;
        case SynthesisProblem::SampleTooSmall:
            refusal.text =
                QStringLiteral(
                    "The sample of %1 x %2 pixels is too small for the Level 1 window of %3 "
                    "x %3 pixels. Use a larger sample%4.")
                    .arg(sample->width)
                    .arg(sample->height)
                    .arg(settings.WindowSide(0))
                    .arg(settings.levelAccuracy[0] == Accuracy::Low
                             ? QString()
                             : QStringLiteral(" or a lower Level 1 accuracy"));
            refusal.field = kLevel1;
            return refusal;
    }
    if (sample == nullptr) {
        return refusal;
    }
    const MemoryCheck memory = CheckMemory(sample->width, sample->height, sample->bytesPerPixel,
                                           width, height, settings, memoryLimit);
    if (!memory.Fits()) {
        refusal.text = QStringLiteral(
                           "An image of %1 x %2 pixels from this sample needs about %3 of memory, "
                           "more than the %4 %5. Choose a smaller size, a lower accuracy or "
                           "subsampling.")
                           .arg(width)
                           .arg(height)
                           .arg(QString::fromStdString(FormatBytes(memory.needed)))
                           .arg(QString::fromStdString(FormatBytes(memory.allowed)))
                           .arg(memoryLimit != 0 ? QStringLiteral("allowed to a synthesis")
                                                 : QStringLiteral("this computer has"));
        refusal.field = kWidth;
    }
    return refusal;
}

bool CSynthesisParamsDlg::CheckOutputSize() {
    const auto width = static_cast<std::uint32_t>(outputWidth);
    const auto height = static_cast<std::uint32_t>(outputHeight);
    const RunRefusal refusal = CheckRun(sample, width, height, settings, memoryLimit);
    if (refusal.text.isEmpty()) {
        return true;
    }
    // Over this dialog, which stays with the values as they are; the field
    // to put right takes the focus.
    framework::MessageBox(refusal.text, std::nullopt, framework::MessageButtons::Ok);
    if (QWidget* field = framework::ControlById(*this, refusal.field)) {
        field->setFocus();
        if (auto* edit = qobject_cast<QLineEdit*>(field)) {
            edit->selectAll();
        }
    }
    return false;
}

void CSynthesisParamsDlg::accept() {
    // The size and the run are checked here, with the values still in the
    // fields to be put right, rather than after the dialog has gone.
    if (UpdateData(true) && CheckOutputSize()) {
        given_.reset();
        QDialog::accept();
    }
}

void CSynthesisParamsDlg::reject() {
    // Checks on the way (opening, subsampling clicks) have already written
    // into the members; Cancel must hand back what it was given.
    if (given_) {
        Restore(*given_);
        given_.reset();
    }
    QDialog::reject();
}

CSynthesisParamsDlg::Values CSynthesisParamsDlg::Current() const {
    return {outputHeight, outputWidth, inputFile, settings};
}

void CSynthesisParamsDlg::Restore(const Values& values) {
    outputHeight = values.outputHeight;
    outputWidth = values.outputWidth;
    inputFile = values.inputFile;
    settings = values.settings;
}

}  // namespace weftloom
