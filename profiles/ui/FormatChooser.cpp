#include "FormatChooser.h"

#include "OwnerDrawColours.h"

#include <QApplication>
#include <QCursor>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QToolButton>
#include <algorithm>
#include <charconv>
#include <functional>

namespace {

const QColor FormatText(0, 0, 128);  // navy
constexpr int IconLeft = 20, IconSize = 20, HeaderTextLeft = 45, FormatTextLeft = 25;

// Forwards the events of the objects it watches to a function; a second object, so the
// chooser's own filter on its box never sees an event twice.
class TEventHook : public QObject {
 public:
  TEventHook(QObject* parent, std::function<bool(QObject*, QEvent*)> hook) : QObject(parent), FHook(std::move(hook)) {}
  bool eventFilter(QObject* watched, QEvent* event) override { return FHook(watched, event); }

 private:
  std::function<bool(QObject*, QEvent*)> FHook;
};

// The category icons: a film frame in the category's colour for the video categories, a
// note for the audio one.
void PaintCategoryIcon(QPainter& painter, const QRect& cell, int category) {
  static const QColor colours[CategoryCount] = {{0, 128, 128}, {46, 139, 87}, {200, 60, 40},
                                                {70, 100, 160}, {120, 70, 160}, {220, 120, 20}};
  const QColor colour = colours[std::clamp(category, 0, CategoryCount - 1)];
  const QRect r = cell.adjusted(3, 4, -3, -4);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  if (category == CategoryCount - 1) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(r.left(), r.bottom() - 4.5, 6, 5));
    painter.drawEllipse(QRectF(r.right() - 6, r.bottom() - 6.5, 6, 5));
    QPainterPath beam;
    beam.moveTo(r.left() + 4.5, r.bottom() - 2);
    beam.lineTo(r.left() + 4.5, r.top());
    beam.lineTo(r.right() + 0.5, r.top() - 2);
    beam.lineTo(r.right() + 0.5, r.bottom() - 4);
    painter.setPen(QPen(colour, 1.6));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(beam);
  } else {
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(r, 2, 2);
    painter.setBrush(Qt::white);
    for (int x = r.left() + 2; x + 2 <= r.right(); x += 4) {
      painter.drawRect(x, r.top() + 1, 2, 2);
      painter.drawRect(x, r.bottom() - 2, 2, 2);
    }
  }
  painter.restore();
}

// Plus when collapsed, minus when expanded, in a small box centred in the glyph column.
void PaintGlyph(QPainter& painter, const QRect& row, bool collapsed) {
  const QRect box(row.left() + (TFormatList::GlyphWidth - 11) / 2, row.center().y() - 5, 10, 10);
  painter.save();
  painter.setPen(QPen(QColor(90, 90, 90), 1));
  painter.setBrush(Qt::white);
  painter.drawRect(box);
  painter.setPen(QPen(Qt::black, 2));
  const int cx = box.left() + 5, cy = box.top() + 5;
  painter.drawLine(cx - 3, cy, cx + 3, cy);
  if (collapsed) painter.drawLine(cx, cy - 3, cx, cy + 3);
  painter.restore();
}

// What the main window's box shows of the stored choice.
std::string StoredFormatCaption(const TSettingsStore& settings) {
  return settings.Ini().ReadString(SettingsSection, SettingKey::FormatName, DefaultFormatCaption);
}

bool IsOpenKey(const QKeyEvent& key) {
  return key.key() == Qt::Key_F4 || key.key() == Qt::Key_Space ||
         (key.key() == Qt::Key_Down && (key.modifiers() & Qt::AltModifier));
}

}  // namespace

TFormatList::TFormatList(TFormatChooser& chooser) : FChooser(chooser) {
  setObjectName("lst1");
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, HighlightFrameColour);
  colours.setColor(QPalette::Base, ChooserBackgroundColour);
  colours.setColor(QPalette::Window, ChooserBackgroundColour);
  setPalette(colours);
  setAutoFillBackground(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  verticalScrollBar()->setSingleStep(RowHeight);
  viewport()->setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  hide();
}

QRect TFormatList::RowRect(int row) const {
  return QRect(0, row * RowHeight - verticalScrollBar()->value(), viewport()->width(), RowHeight);
}

int TFormatList::RowAt(const QPoint& point) const {
  if (point.y() < 0) return -1;
  const int row = (point.y() + verticalScrollBar()->value()) / RowHeight;
  return row < static_cast<int>(FChooser.FModel.Rows().size()) ? row : -1;
}

void TFormatList::UpdateScrollRange() {
  const int total = static_cast<int>(FChooser.FModel.Rows().size()) * RowHeight;
  verticalScrollBar()->setRange(0, std::max(0, total - viewport()->height()));
  verticalScrollBar()->setPageStep(viewport()->height());
  viewport()->update();
}

void TFormatList::EnsureVisible(int row) {
  if (row < 0) return;
  const int top = row * RowHeight, shown = verticalScrollBar()->value(), height = viewport()->height();
  if (top < shown)
    verticalScrollBar()->setValue(top);
  else if (top + RowHeight > shown + height)
    verticalScrollBar()->setValue(top + RowHeight - height);
}

void TFormatList::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), ChooserBackgroundColour);
  const int rows = static_cast<int>(FChooser.FModel.Rows().size());
  const int first = verticalScrollBar()->value() / RowHeight;
  for (int row = first; row < rows && RowRect(row).top() < viewport()->height(); ++row) PaintRow(painter, row);
}

void TFormatList::PaintRow(QPainter& painter, int row) const {
  const TFormatRow& item = FChooser.FModel.Rows()[static_cast<size_t>(row)];
  const QRect rect = RowRect(row);
  if (row == FChooser.FModel.SelectedRow()) {
    painter.fillRect(rect, HighlightFillColour);
    painter.setPen(HighlightFrameColour);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
  } else {
    painter.fillRect(rect, ChooserBackgroundColour);
  }
  QFont font = painter.font();
  font.setBold(item.Info.IsCategory);
  painter.setFont(font);
  const int textLeft = item.Info.IsCategory ? HeaderTextLeft : FormatTextLeft;
  const QRect textRect(rect.left() + textLeft, rect.top(), rect.width() - textLeft - 2, rect.height());
  if (item.Info.IsCategory) {
    PaintGlyph(painter, rect, item.Info.Collapsed);
    PaintCategoryIcon(painter, QRect(rect.left() + IconLeft, rect.top(), IconSize, IconSize), item.Info.Code);
    painter.setPen(Qt::black);
  } else {
    painter.setPen(FormatText);
  }
  const QString text = painter.fontMetrics().elidedText(QString::fromStdString(item.Text), Qt::ElideRight, textRect.width());
  painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}

void TFormatList::mouseMoveEvent(QMouseEvent* event) {
  const int row = RowAt(event->position().toPoint());
  if (row >= 0) FChooser.SetHotRow(row);
}

void TFormatList::mousePressEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  const int row = RowAt(point);
  if (row < 0) return;
  const TItemInfo& info = FChooser.FModel.Rows()[static_cast<size_t>(row)].Info;
  if (info.IsCategory && point.x() < GlyphWidth)
    FChooser.ToggleCategory(row);
  else if (info.IsFormat)
    FChooser.ChooseRow(row);
}

void TFormatList::mouseDoubleClickEvent(QMouseEvent* event) {
  // The press before it has already chosen a format row, or toggled a header on its glyph;
  // so a double-click toggles a header once wherever it lands.
  const QPoint point = event->position().toPoint();
  const int row = RowAt(point);
  if (row >= 0 && point.x() >= GlyphWidth && FChooser.FModel.Rows()[static_cast<size_t>(row)].Info.IsCategory)
    FChooser.ToggleCategory(row);
}

void TFormatList::keyPressEvent(QKeyEvent* event) {
  const int rows = static_cast<int>(FChooser.FModel.Rows().size());
  const int selected = FChooser.FModel.SelectedRow();
  switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down: {
      if (rows == 0) return;
      const int next = selected < 0 ? 0 : std::clamp(selected + (event->key() == Qt::Key_Up ? -1 : 1), 0, rows - 1);
      FChooser.SetHotRow(next);
      EnsureVisible(next);
      return;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      if (selected < 0) return;
      if (FChooser.FModel.Rows()[static_cast<size_t>(selected)].Info.IsCategory)
        FChooser.ToggleCategory(selected);
      else
        FChooser.ChooseRow(selected);
      return;
    case Qt::Key_Escape:
      FChooser.CloseList();
      return;
    default:
      QAbstractScrollArea::keyPressEvent(event);
  }
}

void TFormatList::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollRange();
}

TFormatChooser::TFormatChooser(const TSettingsStore& settings, TChooserHost host, QWidget* parent)
    : QWidget(parent), FSettings(settings), FHost(host) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  FBox = new QLineEdit(this);
  FBox->setObjectName("edt1");
  // Read-only shows no caret; the arrow pointer says the box is not for typing.
  FBox->setReadOnly(true);
  FBox->setCursor(Qt::ArrowCursor);
  FBox->setFocusPolicy(Qt::TabFocus);
  QPalette colours = FBox->palette();
  colours.setColor(QPalette::Base, ChooserBackgroundColour);
  FBox->setPalette(colours);
  FBox->installEventFilter(this);
  FArrow = new QToolButton(this);
  FArrow->setObjectName("imgbtn1");
  FArrow->setArrowType(Qt::DownArrow);
  FArrow->setFixedWidth(22);
  layout->addWidget(FBox, 1);
  layout->addWidget(FArrow);
  connect(FArrow, &QToolButton::clicked, this, [this] { ToggleList(TOpenKind::okArrow); });

  FList = new TFormatList(*this);
  FApplicationWatch = new TEventHook(this, [this](QObject* watched, QEvent* event) { return ApplicationEvent(watched, event); });
  FFocusWatch = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (IsListOpen() && !(now && IsChooserPart(now))) CloseList();
  });
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
    if (state != Qt::ApplicationActive) CloseList();
  });

  BuildFormatList();
  LoadCurrentFormat();
}

TFormatChooser::~TFormatChooser() {
  // Our child widgets give up the focus while QWidget's destructor deletes them, after this
  // object's own part is gone: the focus handler must not run then.
  disconnect(FFocusWatch);
  // The list may lie on the window rather than on this widget; it must not outlive us.
  delete FList.data();
}

void TFormatChooser::BuildFormatList() {
  CloseList();
  FModel.Build(FSettings);
  FBox->setText(QString::fromStdString(FModel.BoxText()));
  FList->verticalScrollBar()->setValue(0);
  FList->UpdateScrollRange();
}

void TFormatChooser::LoadCurrentFormat() {
  FModel.CurrentFormatCode = FSettings.FormatCodeText();
  FModel.CurrentFormatName = FSettings.FormatName();
}

bool TFormatChooser::SetCurrentCode(int code) {
  const std::string caption = FormatCaptionOf(code);
  if (caption.empty()) return false;
  FModel.CurrentFormatName = caption;
  FModel.CurrentFormatCode = std::to_string(code);
  FBox->setText(QString::fromStdString(caption));
  SetHotRow(FModel.FindRow(caption));
  return true;
}

bool TFormatChooser::SaveCategoryStates() { return FModel.SaveCategoryStates(FSettings.Ini()); }

int TFormatChooser::CurrentCode() const {
  const std::string& text = FModel.CurrentFormatCode;
  int code = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), code);
  return error == std::errc() && end == text.data() + text.size() ? code : DefaultFormatCode;
}

void TFormatChooser::OpenList() {
  if (!IsListOpen()) OpenListAs(TOpenKind::okArrow);
}

void TFormatChooser::CloseList() {
  if (!FList || FList->isHidden()) return;
  qApp->removeEventFilter(FApplicationWatch);
  FList->hide();
}

bool TFormatChooser::IsListOpen() const { return FList && FList->isVisible(); }

void TFormatChooser::ToggleList(TOpenKind kind) {
  if (IsListOpen())
    CloseList();
  else
    OpenListAs(kind);
}

void TFormatChooser::OpenListAs(TOpenKind kind) {
  std::string name = FModel.CurrentFormatName;
  if (FHost == TChooserHost::chMainWindow) {
    name = StoredFormatCaption(FSettings);
    if (kind == TOpenKind::okArrow) FBox->setText(QString::fromStdString(name));
  }
  FModel.SetSelectedRow(FModel.FindRow(name));
  if (FList->parentWidget() != window()) {
    FList->setParent(window());
    PlaceList();
  } else if (kind != TOpenKind::okDoubleClick) {
    PlaceList();
  }
  FList->show();
  FList->raise();
  // Not the popup reason: a parameter box that loses the focus to the list checks its value.
  FList->setFocus(Qt::OtherFocusReason);
  FList->EnsureVisible(FModel.SelectedRow());
  qApp->installEventFilter(FApplicationWatch);
  if (FHost == TChooserHost::chMainWindow && kind == TOpenKind::okClick && FModel.SelectedRow() >= 0)
    QCursor::setPos(FList->viewport()->mapToGlobal(FList->RowRect(FModel.SelectedRow()).center()));
}

// The main window's list opens upward onto the box, the dialog's downward below it; when
// the window has no room that way and more the other way, the list opens the other way.
void TFormatChooser::PlaceList() {
  QWidget* host = FList->parentWidget();
  const QPoint topLeft = mapTo(host, QPoint(0, 0));
  const int maxHeight = FHost == TChooserHost::chMainWindow ? MainWindowListHeight : SettingsDialogListHeight;
  const int wanted = std::min(maxHeight, (static_cast<int>(FModel.Rows().size()) + 1) * TFormatList::RowHeight);
  const int above = topLeft.y(), below = host->height() - topLeft.y() - height();
  bool up = FHost == TChooserHost::chMainWindow;
  if ((up ? above : below) < wanted && (up ? below : above) > (up ? above : below)) up = !up;
  const int listHeight = std::max(TFormatList::RowHeight, std::min(wanted, up ? above : below));
  FList->setGeometry(topLeft.x(), up ? topLeft.y() - listHeight : topLeft.y() + height(), width(), listHeight);
}

void TFormatChooser::ChooseRow(int row) {
  if (!FModel.Choose(static_cast<size_t>(row), FHost == TChooserHost::chMainWindow ? &FSettings : nullptr)) return;
  FBox->setText(QString::fromStdString(FModel.CurrentFormatName));
  CloseList();
  emit FormatChosen(FModel.Rows()[static_cast<size_t>(row)].Info.Code, QString::fromStdString(FModel.CurrentFormatName));
}

void TFormatChooser::ToggleCategory(int row) {
  FModel.Toggle(static_cast<size_t>(row));
  // The list grows with an expanded category (up to its height limit) instead of leaving the
  // user a six-row window to scroll.
  if (IsListOpen()) PlaceList();
  FList->UpdateScrollRange();
}

void TFormatChooser::SetHotRow(int row) {
  if (row == FModel.SelectedRow()) return;
  FModel.SetSelectedRow(row);
  FList->viewport()->update();
}

bool TFormatChooser::IsChooserPart(const QWidget* widget) const {
  if (!widget) return false;
  if (widget == this || isAncestorOf(widget)) return true;
  return FList && (widget == FList || FList->isAncestorOf(widget));
}

bool TFormatChooser::eventFilter(QObject* watched, QEvent* event) {
  if (watched != FBox) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonPress:
      ToggleList(TOpenKind::okClick);
      return true;
    case QEvent::MouseButtonDblClick:
      // Its first press has opened or closed the list already; the double-click opens it.
      if (FHost == TChooserHost::chMainWindow)
        FBox->setText(QString::fromStdString(StoredFormatCaption(FSettings)));
      if (!IsListOpen()) OpenListAs(TOpenKind::okDoubleClick);
      return true;
    case QEvent::KeyPress:
      if (IsOpenKey(*static_cast<QKeyEvent*>(event))) {
        ToggleList(TOpenKind::okArrow);
        return true;
      }
      return false;
    default:
      return false;
  }
}

// While the list is open: a left press on anything but the list, the box or the arrow
// closes it before the press is handled, and so does the application losing the focus.
bool TFormatChooser::ApplicationEvent(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress && watched->isWidgetType() &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && !IsChooserPart(static_cast<QWidget*>(watched)))
    CloseList();
  else if (event->type() == QEvent::ApplicationDeactivate)
    CloseList();
  return false;
}
