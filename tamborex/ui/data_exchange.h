#pragma once

#include <QString>
#include <cstdint>

class CPrompter;
class QAbstractButton;
class QLineEdit;
class QWidget;

// Reads a dialog's fields into its values, one after another, the way every Tamborex dialog
// does: a field that holds no integer, or one outside its range, shows its message, takes the
// focus, and stops the exchange, so that field and the ones after it keep their old values.
//
//     CDataExchange dx(prompter, this);
//     dx.Int(ui->a, a) && dx.Int(ui->b, b, 0, 127) && dx.Check(ui->c, c);
class CDataExchange {
  public:
    CDataExchange(CPrompter& prompter, QWidget* dialog) : prompter_(prompter), dialog_(dialog) {}

    bool Int(QLineEdit* field, std::int32_t& value);
    bool Int(QLineEdit* field, std::int32_t& value, std::int32_t min, std::int32_t max);
    bool Check(QAbstractButton* box, std::int32_t& value);

    // The integer a text holds, as the fields read it: optional blanks around an optionally
    // signed decimal number that fits 32 bits.
    static bool ParseInt(const QString& text, std::int32_t& value);

  private:
    bool Fail(QLineEdit* field, const QString& message);

    CPrompter& prompter_;
    QWidget* dialog_;
};

// Shows value in field.
void PutInt(QLineEdit* field, std::int32_t value);
