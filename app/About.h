// The About window: product title with version and a link to the web site.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class TGlobalObject;

class TfrmAbout : public QDialog {
  Q_OBJECT

 public:
  TfrmAbout(const TGlobalObject& global, QWidget* parent = nullptr);

  QLabel* lblTitle;
  QLabel* lblWebSite;
  QPushButton* btnOk;
};
