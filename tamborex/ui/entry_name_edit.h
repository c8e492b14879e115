#pragma once

#include <QLineEdit>
#include <QString>

// The bar's name field. Besides the name it can show a note after it, drawn in a smaller,
// dimmer face while the field is not being edited: it is never part of the text, so typing,
// Enter and the bank see the name alone.
class CEntryNameEdit final : public QLineEdit {
  public:
    explicit CEntryNameEdit(QWidget* parent = nullptr) : QLineEdit(parent) {}

    // mark: the entry's patch has unsaved edits (drawn as "*"); note: drawn after the name and
    // the mark, cut with "…" where the field ends.
    void SetDecoration(bool mark, const QString& note);
    bool Mark() const { return mark_; }
    const QString& Note() const { return note_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool mark_ = false;
    QString note_;
};
