#include "JobList.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <algorithm>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

#include "Skins.h"

namespace {

constexpr int ColumnWidths[JobColumnCount] = {140, 65, 90, 120, 60};
const char* const ColumnCaptions[JobColumnCount] = {"Source", "Length", "Trimmed Length", "Destination File",
                                                    "Progress"};

const QColor SelectedFocused(185, 204, 236);
const QColor SelectedUnfocused(229, 236, 248);
const QColor FrameFocused(122, 160, 218);
const QColor FrameUnfocused(152, 181, 226);

QStringList LocalFiles(const QMimeData* mime) {
  QStringList files;
  if (mime == nullptr) return files;
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  return files;
}

}  // namespace

QRect JobCheckBoxRect(const QRect& cell) {
  return QRect(QPoint(cell.left() + 2, cell.top() + 2), QPoint(cell.left() + 14, cell.bottom() - 2));
}

void TJobListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const auto* view = qobject_cast<const TJobListView*>(option.widget);
  const bool focused = view != nullptr && view->hasFocus();
  const bool selected = (option.state & QStyle::State_Selected) != 0;
  const QRect cell = option.rect;
  painter->save();

  QColor background = index.row() % 2 == 0 ? QColor(Qt::white) : OddRowColour(view ? view->SkinIndex() : 0);
  if (selected) background = focused ? SelectedFocused : SelectedUnfocused;
  painter->fillRect(cell, background);

  QRect textRect = cell.adjusted(3, 0, -3, 0);
  if (index.column() == jcSource) {
    const QRect box = JobCheckBoxRect(cell);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(QPen(Qt::black, 2));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(box);
    if (index.data(Qt::CheckStateRole).toInt() == Qt::Checked) {
      const QPoint tick[] = {{cell.left() + 4, cell.top() + 6},
                             {cell.left() + 6, cell.top() + 11},
                             {cell.left() + 11, cell.top() + 5}};
      painter->drawPolyline(tick, 3);
    }
    textRect.setLeft(box.right() + 5);
    const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
    if (!icon.isNull()) {
      const int side = option.decorationSize.height();
      icon.paint(painter, QRect(textRect.left(), cell.top() + (cell.height() - side) / 2, side, side));
      textRect.setLeft(textRect.left() + side + 3);
    }
  }

  painter->setPen(Qt::black);
  painter->setFont(option.font);
  const Qt::Alignment columnAlign =
      Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt()) & Qt::AlignHorizontal_Mask;
  const QString text = option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                                     textRect.width());
  painter->drawText(textRect, (columnAlign ? columnAlign : Qt::AlignLeft) | Qt::AlignVCenter | Qt::TextSingleLine,
                    text);

  if (selected) {
    // One frame around the whole row: top and bottom in every cell, the ends in the first
    // and the last column.
    painter->setPen(QPen(focused ? FrameFocused : FrameUnfocused, 1));
    painter->drawLine(cell.topLeft(), cell.topRight());
    painter->drawLine(cell.bottomLeft(), cell.bottomRight());
    if (index.column() == 0) painter->drawLine(cell.topLeft(), cell.bottomLeft());
    if (index.column() == index.model()->columnCount(index.parent()) - 1)
      painter->drawLine(cell.topRight(), cell.bottomRight());
  }
  painter->restore();
}

QSize TJobListDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  size.setHeight(std::max(size.height(), 18));
  return size;
}

bool TJobListDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) {
  if (index.column() != jcSource || !(index.flags() & Qt::ItemIsUserCheckable)) return false;
  bool toggle = false;
  if (event->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    toggle = mouse->button() == Qt::LeftButton && JobCheckBoxRect(option.rect).contains(mouse->position().toPoint());
  } else if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    toggle = key == Qt::Key_Space || key == Qt::Key_Select;
  }
  if (!toggle) return false;
  const bool ticked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
  return model->setData(index, ticked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

TJobListView::TJobListView(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("lvFiles"));
  setItemDelegate(new TJobListDelegate(this));
  setRootIsDecorated(false);
  setIndentation(0);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setAllColumnsShowFocus(true);
  setAcceptDrops(true);
  setDropIndicatorShown(false);
  setDragDropMode(QAbstractItemView::DropOnly);
  header()->setSectionsClickable(false);
  header()->setSectionsMovable(false);
  header()->setStretchLastSection(false);
  SetReportStyle(true);
}

void TJobListView::SetReportStyle(bool report) {
  if (!report) {
    setColumnCount(0);
    setHeaderHidden(true);
    return;
  }
  setColumnCount(JobColumnCount);
  QStringList captions;
  for (const char* caption : ColumnCaptions) captions << QString::fromLatin1(caption);
  setHeaderLabels(captions);
  // A caption wider than its column in the desktop's font widens the column to fit it.
  for (int column = 0; column < JobColumnCount; ++column)
    setColumnWidth(column, std::max(ColumnWidths[column], header()->sectionSizeHint(column)));
  setHeaderHidden(false);
}

void TJobListView::SetSkinIndex(int skinIndex) {
  FSkinIndex = skinIndex;
  viewport()->update();
}

int TJobListView::SelectedRow() const {
  const QList<QTreeWidgetItem*> items = selectedItems();
  return items.isEmpty() ? -1 : indexOfTopLevelItem(items.front());
}

void TJobListView::SelectRow(int row) {
  QTreeWidgetItem* item = topLevelItem(row);
  if (item == nullptr) return;
  setCurrentItem(item);
  item->setSelected(true);
  scrollToItem(item);
}

void TJobListView::dragEnterEvent(QDragEnterEvent* event) {
  if (LocalFiles(event->mimeData()).isEmpty()) return event->ignore();
  event->acceptProposedAction();
}

void TJobListView::dragMoveEvent(QDragMoveEvent* event) {
  if (LocalFiles(event->mimeData()).isEmpty()) return event->ignore();
  event->acceptProposedAction();
}

void TJobListView::dropEvent(QDropEvent* event) {
  const QStringList files = LocalFiles(event->mimeData());
  if (files.isEmpty()) return event->ignore();
  event->acceptProposedAction();
  emit FilesDropped(files);
}

void TJobListView::mousePressEvent(QMouseEvent* event) {
  QTreeWidget::mousePressEvent(event);
  if (event->button() == Qt::RightButton) emit PopupRequested(event->globalPosition().toPoint());
}

// The selection's colours depend on the focus.
void TJobListView::focusInEvent(QFocusEvent* event) {
  QTreeWidget::focusInEvent(event);
  viewport()->update();
}

void TJobListView::focusOutEvent(QFocusEvent* event) {
  QTreeWidget::focusOutEvent(event);
  viewport()->update();
}
