#include "shell/framework/data_exchange.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QVariant>

#include "shell/framework/dialog_template.h"
#include "shell/framework/message_box.h"

namespace weftloom::framework {

namespace {

QString ReadText(const QWidget* control) {
    if (const auto* edit = qobject_cast<const QLineEdit*>(control)) {
        return edit->text();
    }
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        return label->text();
    }
    return control->property("text").toString();
}

void WriteText(QWidget* control, const QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(text);
    } else {
        control->setProperty("text", text);
    }
}

// Surrounding blanks and a sign are allowed; anything else, and any value
// outside 32 bits, is not an integer here (rather than a wrapped-round one).
bool ParseInt32(const QString& text, std::int32_t& value) {
    bool ok = false;
    const qlonglong parsed = text.trimmed().toLongLong(&ok, 10);
    if (!ok || parsed < INT32_MIN || parsed > INT32_MAX) {
        return false;
    }
    value = static_cast<std::int32_t>(parsed);
    return true;
}

// Blanks around the number are allowed; anything else, a minus sign and
// values past 32 bits are not.
bool ParseUint32(const QString& text, std::uint32_t& value) {
    bool ok = false;
    const qulonglong parsed = text.trimmed().toULongLong(&ok, 10);
    if (!ok || parsed > UINT32_MAX) {
        return false;
    }
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

}  // namespace

DataExchange::DataExchange(QDialog& dialog, bool saveAndValidate)
    : dialog_(dialog), saveAndValidate_(saveAndValidate) {}

QWidget* DataExchange::Control(int id) const {
    return ControlById(dialog_, id);
}

QWidget* DataExchange::Find(int id) const {
    QWidget* control = ControlById(dialog_, id);
    if (control == nullptr) {
        qWarning("Dialog data exchange: no control with id %d", id);
    }
    return control;
}

void DataExchange::Fail(QWidget* control, const QString& message) {
    failed_ = true;
    MessageBox(message, std::nullopt, MessageButtons::Ok);
    if (control != nullptr) {
        control->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            edit->selectAll();
        }
    }
}

template <class T>
void DataExchange::Number(int id, T& value, bool (*parse)(const QString&, T&),
                          const QString& refusal) {
    QWidget* control = Find(id);
    if (failed_ || control == nullptr) {
        return;
    }
    if (!saveAndValidate_) {
        WriteText(control, QString::number(value));
        return;
    }
    T parsed{};
    if (!parse(ReadText(control), parsed)) {
        Fail(control, refusal);
        return;
    }
    value = parsed;
}

void DataExchange::Text(int id, std::int32_t& value) {
    Number(id, value, &ParseInt32, QStringLiteral("Please enter an integer."));
}

void DataExchange::Text(int id, std::uint32_t& value) {
    Number(id, value, &ParseUint32,
           QStringLiteral("Please enter a whole number from 0 to %1.").arg(UINT32_MAX));
}

void DataExchange::Text(int id, QString& value) {
    QWidget* control = Find(id);
    if (failed_ || control == nullptr) {
        return;
    }
    if (saveAndValidate_) {
        value = ReadText(control);
    } else {
        WriteText(control, value);
    }
}

void DataExchange::MinMaxInt(int id, std::int32_t value, int min, int max) {
    if (failed_ || !saveAndValidate_) {
        return;
    }
    if (value < min || value > max) {
        Fail(Find(id),
             QStringLiteral("Please enter an integer between %1 and %2.").arg(min).arg(max));
    }
}

void DataExchange::CBIndex(int id, std::int32_t& value) {
    auto* list = qobject_cast<QComboBox*>(Find(id));
    if (failed_ || list == nullptr) {
        return;
    }
    if (saveAndValidate_) {
        value = list->currentIndex();
    } else {
        list->setCurrentIndex(value >= 0 && value < list->count() ? value : -1);
    }
}

void DataExchange::Radio(int firstButtonId, std::int32_t& value) {
    auto* first = qobject_cast<QAbstractButton*>(Find(firstButtonId));
    if (failed_ || first == nullptr) {
        return;
    }
    QButtonGroup* group = first->group();
    // Only the first button of a group names the group.
    if (group == nullptr || group->id(first) != 0) {
        qWarning("Dialog data exchange: control %d does not start a radio group", firstButtonId);
        return;
    }
    if (saveAndValidate_) {
        value = group->checkedId();
        return;
    }
    QAbstractButton* chosen = group->button(value);
    if (chosen != nullptr) {
        chosen->setChecked(true);
        return;
    }
    // An exclusive group will not let its checked button go.
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) {
        button->setChecked(false);
    }
    group->setExclusive(true);
}

}  // namespace weftloom::framework
