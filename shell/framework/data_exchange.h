#pragma once

#include <QString>

#include <cstdint>

class QDialog;
class QWidget;

namespace weftloom::framework {

// One pass of moving values between a dialog's members and its controls
// (built by BuildDialog; controls are found by id). Loading
// (saveAndValidate = false) writes members into controls; saving reads them
// back and checks them. The first failed check shows a message, focuses the
// offending control and marks the pass Failed(); every later call of the pass
// then leaves members and controls alone, so the order of the calls decides
// which field is reported. The caller keeps the dialog open on failure.
// Create one per pass on the stack, on the user-interface thread; it refers
// to the dialog and owns nothing.
class DataExchange {
  public:
    DataExchange(QDialog& dialog, bool saveAndValidate);

    bool SaveAndValidate() const { return saveAndValidate_; }
    bool Failed() const { return failed_; }

    // An edit or label holding a signed 32-bit integer as decimal text.
    // Saving refuses anything else (an empty field too) with
    // "Please enter an integer."
    void Text(int id, std::int32_t& value);
    // An unsigned 32-bit integer; saving refuses a sign, anything else and
    // values past 32 bits, naming the range.
    void Text(int id, std::uint32_t& value);
    void Text(int id, QString& value);

    // Saving only: refuses a value outside min..max with a message naming the
    // range and focuses control `id`. Call right after the Text of that id.
    void MinMaxInt(int id, std::int32_t value, int min, int max);

    // The selected index of a drop-down list; -1 for none.
    void CBIndex(int id, std::int32_t& value);

    // The checked button of the radio group whose first button has the id
    // `firstButtonId`, numbered 0, 1, 2... in template order; -1 for none.
    // Loading -1 (or any index the group does not have) unchecks them all.
    void Radio(int firstButtonId, std::int32_t& value);

    // The control itself, for enabling and the like; nullptr if there is none.
    // Exchanges nothing, so it answers even after a failure.
    QWidget* Control(int id) const;

  private:
    QWidget* Find(int id) const;  // Control(), warning when there is none
    // Text of a number: written as is, read back through parse, refused with refusal.
    template <class T>
    void Number(int id, T& value, bool (*parse)(const QString&, T&), const QString& refusal);
    void Fail(QWidget* control, const QString& message);

    QDialog& dialog_;
    bool saveAndValidate_;
    bool failed_ = false;
};

}  // namespace weftloom::framework
