#include "ErrorHandler.h"

#include <QGuiApplication>
#include <stdexcept>

#include "app/core/DialogSeam.h"
#include "engine/EngineError.h"

std::string UnhandledErrorText(const std::string& message) {
  std::string text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) text += '.';
  return text;
}

void ShowUnhandledError(const std::exception& error) {
  const std::string caption = QGuiApplication::applicationDisplayName().toStdString();
  const bool engineError = dynamic_cast<const EFFmpegError*>(&error) != nullptr;
  DialogSeam().ShowMessage(caption, UnhandledErrorText(error.what()),
                           engineError ? TMessageIcon::miWarning : TMessageIcon::miError);
}

TOndrelApplication::TOndrelApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TOndrelApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowUnhandledError(error);
  } catch (...) {
    ShowUnhandledError(std::runtime_error("Unknown error"));
  }
  // The event counts as handled: its handler has run as far as it could.
  return true;
}
