// The Settings dialog: a second format chooser and the ten parameter boxes of the current
// format. The boxes mirror TParameterModel, which holds every rule; the settings file is
// written only by "&Ok".
#pragma once

#include <QDialog>
#include <QStyledItemDelegate>

#include "app/core/SettingsStore.h"
#include "profiles/model/ParameterEditors.h"
#include "profiles/model/ProfileStore.h"

class QComboBox;
class QGroupBox;
class QPushButton;
class TFormatChooser;

// The entries of the six fixed-list boxes: the highlighted one filled and framed, the
// others white, each on one line 3 pixels from the left, cut with an ellipsis.
class TFixedListDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class TfrmSettings : public QDialog {
  Q_OBJECT

 public:
  static constexpr int DialogWidth = 475;
  static constexpr int DialogHeight = 370;

  // `settings` and `store` name the two files; the dialog keeps copies of the names.
  TfrmSettings(const TSettingsStore& settings, const TFormatStore& store, QWidget* parent = nullptr);

  // The main window's entry point: shows the dialog modally over `parent`, fresh from the
  // files. True when the user confirmed with "&Ok"; then the choice, its parameters and the
  // dialog's category states are stored and `code` is the confirmed format's code. The
  // caller saves its own category states before and rebuilds its format list after a
  // confirmation. False after "&Cancel" or the close button: nothing was written.
  static bool Execute(QWidget* parent, const TSettingsStore& settings, const TFormatStore& store, int& code);

  // What each showing does: rebuilds the chooser, takes the current format from the
  // settings file and fills the boxes with the stored choices, typed values included.
  void Reload();

  TFormatChooser* Chooser() const { return edt1; }
  QComboBox* Box(TParamBox box) const { return FBoxes[static_cast<int>(box)]; }
  const TParameterModel& Parameters() const { return FParameters; }
  QPushButton* DefaultButton() const { return btnDefault; }
  QPushButton* OkButton() const { return btnOk; }
  QPushButton* CancelButton() const { return btnCancel; }

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QGroupBox* MakeGroup(const char* title, bool video);
  void ConnectBox(TParamBox box);
  void ShowBox(TParamBox box);
  void ShowBoxes();
  // The check of an editable box that loses the focus; false when it refused the text.
  bool CheckBox(TParamBox box);
  int BoxOf(const QObject* widget) const;

  void edt1Change(int code, const QString& caption);
  void btnDefaultClick();
  void btnOkClick();

  TSettingsStore FSettings;
  TFormatStore FStore;
  TParameterModel FParameters;
  TFormatChooser* edt1 = nullptr;
  QComboBox* FBoxes[ParamBoxCount] = {};
  QPushButton* btnDefault = nullptr;
  QPushButton* btnOk = nullptr;
  QPushButton* btnCancel = nullptr;
};
