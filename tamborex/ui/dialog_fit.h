#pragma once

#include <QSize>

class QDialog;
class QLineEdit;
class QScrollArea;
class QWidget;

// Sizes a dialog to what its layout asks for, but never beyond the free area of its screen:
// a dialog whose body sits in a scroll area shows all of the body where the screen has room and
// scrolls it where the screen is small (a laptop at twice the scale). The dialog stays
// resizable down to its layout's minimum.
void FitToScreen(QDialog& dialog, QScrollArea* body = nullptr);

// What the dialog asks for to show all of itself, its scrolled body included, measured again
// now; and the room its screen has for a window (the free area less a window manager's frame).
QSize WantedSize(QDialog& dialog, QScrollArea* body = nullptr);
QSize ScreenRoom(const QWidget& window);

// Moves a window that would stand partly off its screen (a place saved on a larger screen or at
// another scale) back onto it, keeping it where it is otherwise.
void KeepOnScreen(QWidget& window);

// Makes a number field as wide as `digits` digits need in its font, at any scale.
void SizeForDigits(QLineEdit& field, int digits);
// Makes a field at least as wide as the text it holds needs.
void SizeForText(QLineEdit& field);
