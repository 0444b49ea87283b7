#include "synthesisui/synthesis_params_dlg.h"

namespace weftloom {

CSynthesisParamsDlg::CSynthesisParamsDlg(QWidget* parent) : QDialog(parent) {}

framework::DialogTemplate CSynthesisParamsDlg::Template() { return {}; }

int CSynthesisParamsDlg::DoModal() { return 2; }

bool CSynthesisParamsDlg::UpdateData(bool) { return false; }

}  // namespace weftloom
