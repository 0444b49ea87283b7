#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>

#include "shell/framework/dialog_template.h"

namespace weftloom {

// The modal "Synthesis Parameters" dialog (template 130).
class CSynthesisParamsDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSynthesisParamsDlg(QWidget* parent = nullptr);
    static framework::DialogTemplate Template();
    // 1 (OK) when confirmed and every check passed, else 2 (Cancel).
    int DoModal();
    // Moves values between the members and the controls; false when a check failed.
    bool UpdateData(bool saveAndValidate);

    std::int32_t outputHeight = 0;
    std::int32_t outputWidth = 0;
    QString inputFile;
    std::int32_t levelAccuracy[3] = {0, 0, 0};
    std::int32_t subsampleCount = 2500;
    std::int32_t metric = 1;
    std::int32_t subsamplingMode = 2;
    std::int32_t subsamplePercent = 10;
    std::int32_t minimumPixelCount = 2500;
};

}  // namespace weftloom
