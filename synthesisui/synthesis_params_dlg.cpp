#include "synthesisui/synthesis_params_dlg.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>

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
    framework::DialogTemplate t =
        framework::StandardDialogTemplate(130, QStringLiteral("Synthesis Parameters"), 348, 231);
    const auto edit = ControlKind::DigitsEdit;
    const auto label = ControlKind::Label;
    const auto radio = ControlKind::AutoRadioButton;
    const auto list = ControlKind::DropDownList;
    const auto box = ControlKind::GroupBox;
    t.controls = {
        {-1, label, "Input file :", 16, 12, 32, 8, kGroup},
        {kInputFile, ControlKind::SunkenLabel, "...", 52, 10, 113, 12, kGroup},
        {-1, box, "New Image", 16, 28, 148, 64},
        {-1, label, "&Width", 28, 47, 20, 8, kGroup},
        {kWidth, edit, "", 63, 44, 40, 14, kTabStop},
        {-1, label, "&Height", 28, 67, 22, 8, kGroup},
        {kHeight, edit, "", 63, 64, 40, 14, kTabStop},
        {-1, box, "Subsampling", 16, 100, 148, 100},
        {kDisable, radio, "&Disable", 24, 116, 39, 10, kGroup},
        {kPercentage, radio, "S&ubsample to", 24, 136, 56, 10},
        {kFixedCount, radio, "Su&bsample to", 24, 178, 56, 10},
        {kPercent, edit, "", 84, 134, 28, 14, kTabStop},
        {-1, label, "%", 114, 137, 8, 8, kGroup},
        {-1, label, "Minimum pi&xel count :", 36, 155, 68, 8, kGroup},
        {kMinimumPixelCount, edit, "", 108, 152, 40, 14, kTabStop},
        {kPixelCount, edit, "", 84, 176, 40, 14, kTabStop},
        {-1, label, "pixels", 128, 179, 18, 8, kGroup},
        {-1, label, "Level 1", 192, 18, 24, 8, kGroup},
        {kLevel1, list, "", 228, 16, 48, 55, kTabStop},
        {-1, label, "Level 2", 192, 37, 24, 8, kGroup},
        {kLevel2, list, "", 228, 35, 48, 48, kTabStop},
        {-1, label, "Level 3", 192, 57, 24, 8, kGroup},
        {kLevel3, list, "", 228, 55, 48, 48, kTabStop},
        {kMetricL1, radio, "L&1 : sum of abs", 192, 116, 64, 10, kGroup},
        {1015, radio, "L&2 : Euclidian", 192, 128, 59, 10},
        {1016, radio, "L&inf : largest abs", 192, 140, 67, 10},
        {1, ControlKind::DefaultPushButton, "OK", 212, 206, 50, 14, kTabStop},
        {2, ControlKind::PushButton, "Cancel", 273, 206, 50, 14, kTabStop},
        {-1, box, "Accuracy", 180, 4, 148, 88},
        {-1, label, "Lower accuracy is faster, but may miss essential texture features", 188, 72,
         129, 16, kGroup},
        {-1, box, "&Distance metric", 180, 100, 148, 60},
        {-1, label, "S&eed", 192, 165, 24, 8, kGroup},
        {kSeed, edit, "", 228, 162, 48, 14, kTabStop},
        {-1, label, "Sea&rch", 192, 185, 24, 8, kGroup},
        {kSearch, list, "", 228, 183, 96, 40, kTabStop},
    };
    return t;
}

CSynthesisParamsDlg::CSynthesisParamsDlg(QWidget* parent) : QDialog(parent) {
    framework::BuildDialog(*this, Template());

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
}

void CSynthesisParamsDlg::setVisible(bool visible) {
    // Set up before the window appears, so the first picture is already right
    // and a failed check focuses its field before the dialog takes the focus.
    if (visible && !isVisible()) {
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

bool CSynthesisParamsDlg::CheckOutputSize() {
    const auto width = static_cast<std::uint32_t>(outputWidth);
    const auto height = static_cast<std::uint32_t>(outputHeight);
    const int sideId = height > kMaxTgaSide ? kHeight : kWidth;
    QString problem;
    if (width > kMaxTgaSide || height > kMaxTgaSide) {
        problem =
            QStringLiteral("An image can be saved with at most %1 pixels a side.").arg(kMaxTgaSide);
    } else if (!TextureSynthesiser::OutputFits(width, height)) {
        problem = QStringLiteral("An image of %1 x %2 pixels is too large to synthesise.")
                      .arg(width)
                      .arg(height);
    } else {
        return true;
    }
    framework::MessageBox(problem, std::nullopt, framework::MessageButtons::Ok);
    if (auto* edit = qobject_cast<QLineEdit*>(framework::ControlById(*this, sideId))) {
        edit->setFocus();
        edit->selectAll();
    }
    return false;
}

void CSynthesisParamsDlg::accept() {
    // The size is checked here, with the values still in the fields to be
    // put right, rather than after the dialog has gone.
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
