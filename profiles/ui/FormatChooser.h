// The format chooser: the read-only "Output Format:" box with its arrow button and the
// drop-down tree list of categories and formats. The main window and the Settings dialog
// each embed one; the rules (rows, expanding, choosing, stored states) live in
// TFormatChooserModel, this widget draws them and feeds the mouse and keys into them.
#pragma once

#include <QAbstractScrollArea>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <string>

#include "app/core/SettingsStore.h"
#include "profiles/model/FormatCatalogue.h"

class QLineEdit;
class QToolButton;

// Which form hosts the chooser. The main window stores a choice at once and opens its list
// upward; the Settings dialog keeps the choice until it is confirmed and opens it downward.
enum class TChooserHost { chMainWindow, chSettingsDialog };

class TFormatChooser;

// The drop-down list: owner-drawn rows of 20 pixels with hot tracking. It lies over the
// chooser's window while open, so it is a child of that window rather than of the chooser.
class TFormatList : public QAbstractScrollArea {
  Q_OBJECT

 public:
  static constexpr int RowHeight = 20;
  static constexpr int GlyphWidth = 20;  // a press left of this on a header row toggles it

  explicit TFormatList(TFormatChooser& chooser);
  // The row's rectangle in viewport coordinates, scrolled as shown.
  QRect RowRect(int row) const;
  // The row under a viewport point; -1 below the last row.
  int RowAt(const QPoint& point) const;
  void UpdateScrollRange();
  void EnsureVisible(int row);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PaintRow(QPainter& painter, int row) const;

  TFormatChooser& FChooser;
};

class TFormatChooser : public QWidget {
  Q_OBJECT

 public:
  // The list heights are the rows plus one row, at most these many pixels.
  static constexpr int MainWindowListHeight = 358;
  static constexpr int SettingsDialogListHeight = 247;

  // `settings` names the settings file (a copy of the store is kept: it is only a file name).
  // The list is built at once from the catalogue and the stored category states.
  TFormatChooser(const TSettingsStore& settings, TChooserHost host, QWidget* parent = nullptr);
  ~TFormatChooser() override;

  // BuildFormatList: rebuilds the rows from the catalogue and the "lstformat" states, hides
  // the list, shows the stored "FormatName" in the box and selects its row.
  void BuildFormatList();
  // Reads the form's current format from "settings": "FormatCode" (default "1") and
  // "FormatName" (default "iPod Video MPEG-4"). The box is left as it is.
  void LoadCurrentFormat();
  // Makes a catalogue format the form's current one and shows its caption; stores nothing,
  // on either host. False (and nothing changes) for a code the catalogue does not have.
  bool SetCurrentCode(int code);
  // Writes the Collapsed flag of every header row of this chooser's list to "lstformat".
  bool SaveCategoryStates();

  const std::string& CurrentFormatName() const { return FModel.CurrentFormatName; }
  const std::string& CurrentFormatCode() const { return FModel.CurrentFormatCode; }  // decimal text
  // The current code as a number; 1 when the text is not one.
  int CurrentCode() const;

  // Opening and closing the list; the box and the arrow button toggle it.
  void OpenList();
  void CloseList();
  bool IsListOpen() const;

  TChooserHost Host() const { return FHost; }
  const TFormatChooserModel& Model() const { return FModel; }
  QLineEdit* FormatBox() const { return FBox; }
  QToolButton* ArrowButton() const { return FArrow; }
  TFormatList* List() const { return FList; }

 signals:
  // The user chose a format row. On the main window "FormatName" and "FormatCode" are
  // already written when this is raised.
  void FormatChosen(int code, const QString& caption);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class TFormatList;
  enum class TOpenKind { okClick, okDoubleClick, okArrow };

  void ToggleList(TOpenKind kind);
  void OpenListAs(TOpenKind kind);
  void PlaceList();
  void ChooseRow(int row);
  void ToggleCategory(int row);
  void SetHotRow(int row);
  bool IsChooserPart(const QWidget* widget) const;
  bool ApplicationEvent(QObject* watched, QEvent* event);

  TSettingsStore FSettings;
  TChooserHost FHost;
  TFormatChooserModel FModel;
  QLineEdit* FBox = nullptr;
  QToolButton* FArrow = nullptr;
  QPointer<TFormatList> FList;
  QObject* FApplicationWatch = nullptr;  // filters the application's events while the list is open
  QMetaObject::Connection FFocusWatch;   // the application's focus changes, cut before our children go
};
