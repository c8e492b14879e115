#include "data_exchange.h"

#include <QAbstractButton>
#include <QLineEdit>

#include "prompter.h"

bool CDataExchange::ParseInt(const QString& text, std::int32_t& value) {
    bool ok = false;
    const qlonglong number = text.trimmed().toLongLong(&ok, 10);
    if (!ok || number < INT32_MIN || number > INT32_MAX) {
        return false;
    }
    value = static_cast<std::int32_t>(number);
    return true;
}

bool CDataExchange::Fail(QLineEdit* field, const QString& message) {
    prompter_.Warn(dialog_, message);
    field->setFocus();
    field->selectAll();
    return false;
}

bool CDataExchange::Int(QLineEdit* field, std::int32_t& value) {
    if (!ParseInt(field->text(), value)) {
        return Fail(field, QStringLiteral("Please enter an integer."));
    }
    return true;
}

bool CDataExchange::Int(QLineEdit* field, std::int32_t& value, std::int32_t min, std::int32_t max) {
    std::int32_t typed = 0;
    if (!ParseInt(field->text(), typed)) {
        return Fail(field, QStringLiteral("Please enter an integer."));
    }
    if (typed < min || typed > max) {
        return Fail(field,
                    QStringLiteral("Please enter an integer between %1 and %2.").arg(min).arg(max));
    }
    value = typed;
    return true;
}

bool CDataExchange::Check(QAbstractButton* box, std::int32_t& value) {
    value = box->isChecked() ? 1 : 0;
    return true;
}

void PutInt(QLineEdit* field, std::int32_t value) {
    field->setText(QString::number(value));
}
