#pragma once

// What a person sees of a shown window, as lists of faults (empty: none), each naming the widget.

#include <string>
#include <vector>

class QWidget;

// A visible widget standing partly outside the widget it sits in; a label, button, check box,
// group title or closed list narrower or lower than its text needs; the window larger than the
// free area of its screen or partly off it.
std::vector<std::string> LayoutFaults(const QWidget& window);

// A scroll area of the window that hides part of what it holds.
std::vector<std::string> ScrolledAway(const QWidget& window);

// A control the keyboard reaches with Tab that says nothing when the mouse rests on it.
std::vector<std::string> ControlsWithoutToolTip(const QWidget& window);

// An enabled, visible control that Tab never reaches going round the window from its first
// control, or a Tab stop that is no control of the window's.
std::vector<std::string> TabFaults(QWidget& window);

// "QPushButton okButton "OK"": enough to find a widget named in a fault.
std::string Describe(const QWidget& widget);
