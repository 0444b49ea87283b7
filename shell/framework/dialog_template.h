#pragma once

#include <QFont>
#include <QIcon>
#include <QRect>
#include <QString>

#include <utility>
#include <vector>

class QDialog;
class QWidget;

namespace weftloom::framework {

// The kinds of control a dialog template can hold.
enum class ControlKind {
    Label,              // static text, top-left aligned, wraps at its width
    SunkenLabel,        // static text in a sunken frame (a read-only field)
    GroupBox,           // a titled frame drawn behind the controls it encloses
    Edit,               // single-line text edit
    DigitsEdit,         // single-line edit that takes the digits 0-9 only
    AutoRadioButton,    // radio button, checked by a click, exclusive within its group
    PushButton,         // button; id 1 accepts the dialog, id 2 rejects it
    DefaultPushButton,  // the button Enter presses
    DropDownList,       // non-editable list, unsorted; filled by the dialog's code
    Icon,               // 32 x 32 pixel picture from ControlTemplate::icon
    ProgressBar,        // smooth bar without text; range and position set by the dialog
};

// Style bits of a control template, combined with |.
enum ControlStyle : unsigned {
    kPlain = 0,
    kGroup = 1u << 0,     // starts a group
    kTabStop = 1u << 1,   // Tab stops here
    kNoPrefix = 1u << 2,  // a label shows '&' literally
};

// One control of a template. Positions are dialog units (see DialogBaseUnits).
// A radio group runs from its first radio button to the next control that
// starts a group.
struct ControlTemplate {
    ControlTemplate() = default;
    ControlTemplate(int id_, ControlKind kind_, QString text_, int x_, int y_, int width_,
                    int height_, unsigned style = kPlain)
        : id(id_),
          kind(kind_),
          text(std::move(text_)),
          x(x_),
          y(y_),
          width(width_),
          height(height_),
          group((style & kGroup) != 0),
          tabStop((style & kTabStop) != 0),
          noPrefix((style & kNoPrefix) != 0) {}

    int id = -1;  // -1: no id (static decoration)
    ControlKind kind = ControlKind::Label;
    QString text;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool group = false;
    bool tabStop = false;
    bool noPrefix = false;
    QIcon icon;  // Icon controls only
};

// A dialog's layout: caption, font, client size in dialog units, and its
// controls in template order, which is also their tab order.
struct DialogTemplate {
    int id = 0;
    QString caption;
    QString fontName;
    int pointSize = 8;
    int width = 0;
    int height = 0;
    std::vector<ControlTemplate> controls;
};

// A template in the font every dialog of the application uses ("MS Sans
// Serif", 8 point), without controls yet.
DialogTemplate StandardDialogTemplate(int id, const QString& caption, int width, int height);

// Pixels per 4 horizontal and per 8 vertical dialog units: the average
// character width and the height of the dialog's font.
struct DialogBaseUnits {
    int x = 0;
    int y = 0;
};

// The font a template asks for: the named family when the system has it,
// otherwise the application's default family at the template's point size.
QFont DialogFont(const DialogTemplate& dialogTemplate);

DialogBaseUnits BaseUnitsOf(const QFont& font);

// Converts a rectangle in dialog units to pixels, rounding each edge.
QRect DialogUnitsToPixels(const QRect& dialogUnits, DialogBaseUnits base);

// Builds the template's controls as children of `dialog` and sets its caption,
// font and fixed size. Every control with an id gets that id as its
// objectName ("1001"); radio buttons of one group share a QButtonGroup in
// which they are numbered 0, 1, 2... in template order; a label with a
// mnemonic focuses the next control in template order that can take focus;
// push button 1 accepts and push button 2 rejects the dialog (through the
// virtual QDialog::accept and reject, so a dialog can validate first).
// Call once, before the dialog is shown. User-interface thread only.
void BuildDialog(QDialog& dialog, const DialogTemplate& dialogTemplate);

// The control with the given id, or nullptr (also for -1).
QWidget* ControlById(const QDialog& dialog, int id);

}  // namespace weftloom::framework
