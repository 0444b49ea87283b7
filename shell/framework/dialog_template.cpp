#include "shell/framework/dialog_template.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <algorithm>

#include <cmath>

namespace weftloom::framework {

namespace {

int Scale(int dialogUnits, int base, int divisor) {
    return static_cast<int>(
        std::lround(static_cast<double>(dialogUnits) * base / static_cast<double>(divisor)));
}

bool TakesFocus(ControlKind kind) {
    switch (kind) {
        case ControlKind::Edit:
        case ControlKind::DigitsEdit:
        case ControlKind::AutoRadioButton:
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton:
        case ControlKind::DropDownList:
            return true;
        default:
            return false;
    }
}

// A group box is drawn behind its controls rather than parenting them, so its
// own mnemonic would find nothing to focus. This sends it to the checked radio
// button inside the box, or else to the first control inside that takes focus.
class GroupBoxMnemonic : public QObject {
  public:
    GroupBoxMnemonic(QGroupBox* box, std::vector<QWidget*> enclosed)
        : QObject(box), enclosed_(std::move(enclosed)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Shortcut) {
            return QObject::eventFilter(watched, event);
        }
        QWidget* target = nullptr;
        for (QWidget* widget : enclosed_) {
            if (!widget->isEnabled() || !widget->isVisibleTo(widget->window())) {
                continue;
            }
            auto* radio = qobject_cast<QRadioButton*>(widget);
            if (radio != nullptr && radio->isChecked()) {
                target = widget;
                break;
            }
            if (target == nullptr) {
                target = widget;
            }
        }
        if (target != nullptr) {
            target->setFocus(Qt::ShortcutFocusReason);
        }
        return true;
    }

  private:
    std::vector<QWidget*> enclosed_;
};

QWidget* CreateControl(QDialog& dialog, const ControlTemplate& control) {
    switch (control.kind) {
        case ControlKind::Label:
        case ControlKind::SunkenLabel: {
            auto* label = new QLabel(control.text, &dialog);
            // Plain text: a file name shown in a label must never turn into markup.
            label->setTextFormat(Qt::PlainText);
            if (control.kind == ControlKind::SunkenLabel) {
                label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            } else {
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                label->setWordWrap(true);
            }
            return label;
        }
        case ControlKind::GroupBox:
            return new QGroupBox(control.text, &dialog);
        case ControlKind::Edit:
        case ControlKind::DigitsEdit: {
            auto* edit = new QLineEdit(&dialog);
            edit->setText(control.text);
            if (control.kind == ControlKind::DigitsEdit) {
                edit->setValidator(new QRegularExpressionValidator(
                    QRegularExpression(QStringLiteral("[0-9]*")), edit));
            }
            return edit;
        }
        case ControlKind::AutoRadioButton:
            return new QRadioButton(control.text, &dialog);
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton: {
            auto* button = new QPushButton(control.text, &dialog);
            button->setDefault(control.kind == ControlKind::DefaultPushButton);
            if (control.id == 1) {
                QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::accept);
            } else if (control.id == 2) {
                QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::reject);
            }
            return button;
        }
        case ControlKind::DropDownList: {
            auto* list = new QComboBox(&dialog);
            list->setEditable(false);
            return list;
        }
        case ControlKind::Icon: {
            auto* picture = new QLabel(&dialog);
            picture->setPixmap(control.icon.pixmap(32, 32));
            return picture;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(&dialog);
            bar->setTextVisible(false);
            bar->setRange(0, 100);
            bar->setValue(0);
            return bar;
        }
    }
    return nullptr;
}

}  // namespace

QFont DialogFont(const DialogTemplate& dialogTemplate) {
    QFont font = QApplication::font();
    if (!dialogTemplate.fontName.isEmpty() &&
        QFontDatabase::families().contains(dialogTemplate.fontName, Qt::CaseInsensitive)) {
        font.setFamily(dialogTemplate.fontName);
    }
    if (dialogTemplate.pointSize > 0) {
        font.setPointSize(dialogTemplate.pointSize);
    }
    return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average over the alphabet rather than the font's declared average
    // width, which some fonts leave at zero or set for a different script.
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int total = metrics.horizontalAdvance(alphabet);
    const int averageWidth = std::max(1, (total / 26 + 1) / 2);
    return {averageWidth, std::max(1, metrics.height())};
}

QRect DialogUnitsToPixels(const QRect& dialogUnits, DialogBaseUnits base) {
    const int left = Scale(dialogUnits.x(), base.x, 4);
    const int top = Scale(dialogUnits.y(), base.y, 8);
    const int right = Scale(dialogUnits.x() + dialogUnits.width(), base.x, 4);
    const int bottom = Scale(dialogUnits.y() + dialogUnits.height(), base.y, 8);
    return {left, top, right - left, bottom - top};
}

void BuildDialog(QDialog& dialog, const DialogTemplate& dialogTemplate) {
    const QFont font = DialogFont(dialogTemplate);
    const DialogBaseUnits base = BaseUnitsOf(font);
    dialog.setFont(font);
    dialog.setWindowTitle(dialogTemplate.caption);
    dialog.setFixedSize(
        DialogUnitsToPixels(QRect(0, 0, dialogTemplate.width, dialogTemplate.height), base).size());

    const auto& controls = dialogTemplate.controls;
    std::vector<QWidget*> widgets;
    widgets.reserve(controls.size());
    for (const ControlTemplate& control : controls) {
        QWidget* widget = CreateControl(dialog, control);
        if (control.id != -1) {
            widget->setObjectName(QString::number(control.id));
        }
        QRect geometry =
            DialogUnitsToPixels(QRect(control.x, control.y, control.width, control.height), base);
        if (control.kind == ControlKind::DropDownList) {
            // The template's height is that of the opened list; the closed box
            // is as tall as the style makes it.
            geometry.setHeight(widget->sizeHint().height());
        } else if (control.kind == ControlKind::Icon) {
            geometry.setSize(QSize(32, 32));
        } else if (control.kind == ControlKind::Label && control.height <= 8) {
            // A one-line label keeps its whole text on its line: the font here
            // is wider than the one the layout was drawn for.
            auto* label = static_cast<QLabel*>(widget);
            label->setWordWrap(false);
            geometry.setWidth(std::max(geometry.width(), label->sizeHint().width()));
        }
        widget->setGeometry(geometry);
        if (!TakesFocus(control.kind)) {
            widget->setFocusPolicy(Qt::NoFocus);
        } else {
            widget->setFocusPolicy(control.tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        }
        widgets.push_back(widget);
    }

    // Group boxes stay behind the controls they enclose, whatever their place
    // in the template.
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].kind == ControlKind::GroupBox) {
            widgets[i]->lower();
        }
    }

    // Radio groups: from a control that starts a group to the next one that
    // does; the radio buttons inside are numbered in template order and any
    // other control inside is skipped.
    QButtonGroup* radioGroup = nullptr;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].group) {
            radioGroup = nullptr;
        }
        if (controls[i].kind != ControlKind::AutoRadioButton) {
            continue;
        }
        if (radioGroup == nullptr) {
            radioGroup = new QButtonGroup(&dialog);
            radioGroup->setExclusive(true);
        }
        auto* radio = static_cast<QRadioButton*>(widgets[i]);
        radioGroup->addButton(radio, static_cast<int>(radioGroup->buttons().size()));
    }

    for (std::size_t i = 0; i < controls.size(); ++i) {
        const ControlTemplate& control = controls[i];
        if (control.kind == ControlKind::Label && !control.noPrefix &&
            control.text.contains(QLatin1Char('&'))) {
            for (std::size_t next = i + 1; next < controls.size(); ++next) {
                if (TakesFocus(controls[next].kind)) {
                    static_cast<QLabel*>(widgets[i])->setBuddy(widgets[next]);
                    break;
                }
            }
        } else if (control.kind == ControlKind::GroupBox &&
                   control.text.contains(QLatin1Char('&'))) {
            const QRect box(control.x, control.y, control.width, control.height);
            std::vector<QWidget*> enclosed;
            for (std::size_t other = 0; other < controls.size(); ++other) {
                const ControlTemplate& candidate = controls[other];
                if (TakesFocus(candidate.kind) &&
                    box.contains(
                        QRect(candidate.x, candidate.y, candidate.width, candidate.height))) {
                    enclosed.push_back(widgets[other]);
                }
            }
            widgets[i]->installEventFilter(
                new GroupBoxMnemonic(static_cast<QGroupBox*>(widgets[i]), std::move(enclosed)));
        }
    }

    QWidget* previous = nullptr;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (!controls[i].tabStop || !TakesFocus(controls[i].kind)) {
            continue;
        }
        if (previous != nullptr) {
            QWidget::setTabOrder(previous, widgets[i]);
        }
        previous = widgets[i];
    }
}

QWidget* ControlById(const QDialog& dialog, int id) {
    if (id == -1) {
        return nullptr;
    }
    return dialog.findChild<QWidget*>(QString::number(id));
}

DialogTemplate StandardDialogTemplate(int id, const QString& caption, int width, int height) {
    DialogTemplate dialog;
    dialog.id = id;
    dialog.caption = caption;
    dialog.fontName = QStringLiteral("MS Sans Serif");
    dialog.pointSize = 8;
    dialog.width = width;
    dialog.height = height;
    return dialog;
}

}  // namespace weftloom::framework
