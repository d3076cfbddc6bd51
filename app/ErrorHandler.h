// The application-wide error handler: an exception that escapes an event handler or slot is
// shown to the user and the program carries on.
#pragma once

#include <QApplication>
#include <exception>
#include <string>

// The message as shown: a period is added when the text does not already end in a character
// that sorts before or at "." (so "failed" gets one, "failed!" and "failed." do not).
std::string UnhandledErrorText(const std::string& message);
// Shows the error through the dialog seam with the application title as caption: the
// engine's own errors with a warning icon, every other with an error icon.
void ShowUnhandledError(const std::exception& error);

class TOndrelApplication : public QApplication {
 public:
  TOndrelApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
