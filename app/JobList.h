// The job list `lvFiles`: one row per source file with a tick box, in report style with five
// columns while it has rows; it draws its rows itself and takes files dropped on it.
#pragma once

#include <QStyledItemDelegate>
#include <QTreeWidget>

enum TJobColumn { jcSource, jcLength, jcTrimmedLength, jcDestination, jcProgress, JobColumnCount };

// The check box of a row's first cell: (left + 2, top + 2) to (left + 14, bottom - 2).
QRect JobCheckBoxRect(const QRect& cell);

class TJobListDelegate : public QStyledItemDelegate {
 public:
  explicit TJobListDelegate(QObject* parent) : QStyledItemDelegate(parent) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 protected:
  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

class TJobListView : public QTreeWidget {
  Q_OBJECT

 public:
  explicit TJobListView(QWidget* parent = nullptr);

  // Report style: the five columns with their captions and widths and a header. List style:
  // no columns and no header, as the list is while it has no rows.
  void SetReportStyle(bool report);
  bool ReportStyle() const { return columnCount() == JobColumnCount; }
  // The theme whose odd-row colour the rows take (Skins.h).
  void SetSkinIndex(int skinIndex);
  int SkinIndex() const { return FSkinIndex; }

  int SelectedRow() const;  // -1 when no row is selected
  void SelectRow(int row);  // selects, makes current and scrolls into view

 signals:
  void FilesDropped(const QStringList& files);
  // A right button press on the list, at this global position.
  void PopupRequested(const QPoint& globalPos);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  int FSkinIndex = 0;
};
