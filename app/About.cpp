#include "About.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/core/GlobalObject.h"
#include "platform/Platform.h"

TfrmAbout::TfrmAbout(const TGlobalObject& global, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About"));
  setFixedSize(330, 177);
  auto* layout = new QVBoxLayout(this);
  lblTitle = new QLabel(QString::fromStdString(global.ProductTitle() + global.VersionText()), this);
  QFont bold = lblTitle->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.2);
  lblTitle->setFont(bold);
  lblTitle->setAlignment(Qt::AlignCenter);
  const QString url = QString::fromStdString(global.WebSiteUrl());
  lblWebSite = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(url.toHtmlEscaped()), this);
  lblWebSite->setAlignment(Qt::AlignCenter);
  lblWebSite->setTextFormat(Qt::RichText);
  // Through the platform, so tests never start a browser.
  connect(lblWebSite, &QLabel::linkActivated, this,
          [](const QString& link) { Platform().OpenUrl(link.toStdString()); });
  btnOk = new QPushButton(QStringLiteral("&Ok"), this);
  btnOk->setDefault(true);
  connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);

  layout->addStretch(1);
  layout->addWidget(lblTitle);
  layout->addWidget(lblWebSite);
  layout->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOk);
  buttons->addStretch(1);
  layout->addLayout(buttons);
}
