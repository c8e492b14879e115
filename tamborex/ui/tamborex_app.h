#pragma once

#include <QApplication>

// The program: one run of the bar, from start-up to Quit.
class CTamborexApp final : public QApplication {
    Q_OBJECT

  public:
    CTamborexApp(int& argc, char** argv);

    // Opens the devices, runs the bar until it shuts down and returns the exit status.
    int InitInstance();
};
