#include "FormSettings.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

#include "FormatChooser.h"
#include "OwnerDrawColours.h"
#include "app/core/DialogSeam.h"

namespace {

constexpr int TextLeft = 3;

// The character a key gives the boxes' key filter; none for keys that type nothing (arrows,
// Delete, shortcuts), which reach the box unfiltered. A character outside ASCII is passed as
// one the filters never take once the box holds text.
std::optional<char> FilterCharacter(const QKeyEvent& key) {
  if (key.key() == Qt::Key_Backspace) return BackspaceKey;
  if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return std::nullopt;
  const QString text = key.text();
  if (text.size() != 1) return std::nullopt;
  const char16_t c = text.front().unicode();
  if (c < 0x20 || c == 0x7f) return std::nullopt;
  return c < 0x80 ? static_cast<char>(c) : '?';
}

bool SameEntries(const QComboBox& combo, const std::vector<std::string>& entries) {
  if (combo.count() != static_cast<int>(entries.size())) return false;
  for (int i = 0; i < combo.count(); ++i)
    if (combo.itemText(i).toStdString() != entries[static_cast<size_t>(i)]) return false;
  return true;
}

}  // namespace

void TFixedListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  painter->save();
  const QRect rect = option.rect;
  if (option.state & QStyle::State_Selected) {
    painter->fillRect(rect, HighlightFillColour);
    painter->setPen(HighlightFrameColour);
    painter->drawRect(rect.adjusted(0, 0, -1, -1));
  } else {
    painter->fillRect(rect, Qt::white);
  }
  const QRect textRect = rect.adjusted(TextLeft, 0, -TextLeft, 0);
  painter->setFont(option.font);
  painter->setPen(option.state & QStyle::State_Enabled ? option.palette.color(QPalette::Text)
                                                       : option.palette.color(QPalette::Disabled, QPalette::Text));
  const QString text = option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, textRect.width());
  painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
  painter->restore();
}

QSize TFixedListDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const QSize base = QStyledItemDelegate::sizeHint(option, index);
  return {base.width() + TextLeft, std::max(base.height(), option.fontMetrics.height() + 6)};
}

TfrmSettings::TfrmSettings(const TSettingsStore& settings, const TFormatStore& store, QWidget* parent)
    : QDialog(parent), FSettings(settings), FStore(store) {
  setObjectName("frmSettings");
  setWindowTitle("Settings");
  setModal(true);

  auto* formatLabel = new QLabel("Output Format:", this);
  edt1 = new TFormatChooser(FSettings, TChooserHost::chSettingsDialog, this);
  connect(edt1, &TFormatChooser::FormatChosen, this, &TfrmSettings::edt1Change);
  auto* formatRow = new QHBoxLayout;
  formatRow->addWidget(formatLabel);
  formatRow->addWidget(edt1, 1);

  auto* groups = new QHBoxLayout;
  groups->setSpacing(8);
  groups->addWidget(MakeGroup("Video Options", true));
  groups->addWidget(MakeGroup("Audio Options", false));

  btnDefault = new QPushButton("&Default", this);
  btnOk = new QPushButton("&Ok", this);
  btnCancel = new QPushButton("&Cancel", this);
  btnDefault->setObjectName("btnDefault");
  btnOk->setObjectName("btnOk");
  btnCancel->setObjectName("btnCancel");
  // Enter confirms; without this the first button in the tab order, "&Default", would take it.
  btnOk->setDefault(true);
  connect(btnDefault, &QPushButton::clicked, this, &TfrmSettings::btnDefaultClick);
  connect(btnOk, &QPushButton::clicked, this, &TfrmSettings::btnOkClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnDefault);
  buttons->addStretch(1);
  buttons->addWidget(btnOk);
  buttons->addWidget(btnCancel);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(8);
  layout->addLayout(formatRow);
  layout->addLayout(groups, 1);
  layout->addLayout(buttons);
  // 475 x 370, unless the desktop's fonts need more room: then as much as they need, so no
  // caption is cut.
  const QSize needed = layout->minimumSize();
  setFixedSize(std::max(DialogWidth, needed.width()), std::max(DialogHeight, needed.height()));
}

QGroupBox* TfrmSettings::MakeGroup(const char* title, bool video) {
  auto* group = new QGroupBox(title, this);
  group->setObjectName(video ? "grpbxVideo" : "grpbxAudio");
  auto* grid = new QGridLayout(group);
  grid->setContentsMargins(8, 6, 8, 6);
  grid->setHorizontalSpacing(6);
  grid->setColumnStretch(1, 1);
  int row = 0;
  for (const TParamBoxDef& def : ParamBoxDefs()) {
    if (def.Video != video) continue;
    auto* combo = new QComboBox(group);
    combo->setObjectName(def.Name);
    // Room for the longest usual entries ("stereo 2 channels", "Pan and Scan") in the box.
    combo->setMinimumContentsLength(15);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    if (def.Editable) {
      combo->setEditable(true);
      // The box keeps exactly what is typed: no completion, no entries added.
      combo->setInsertPolicy(QComboBox::NoInsert);
      combo->setCompleter(nullptr);
      combo->installEventFilter(this);
    } else {
      combo->setItemDelegate(new TFixedListDelegate(combo));
    }
    FBoxes[static_cast<int>(def.Box)] = combo;
    grid->addWidget(new QLabel(def.Label, group), row, 0);
    grid->addWidget(combo, row, 1);
    ++row;
    ConnectBox(def.Box);
  }
  return group;
}

// The user's changes go into the model; the model's changes are shown with the boxes'
// signals blocked, so each side hears only the other.
void TfrmSettings::ConnectBox(TParamBox box) {
  QComboBox* combo = Box(box);
  const auto select = [this, box](int index) {
    if (index >= 0) FParameters.Select(box, index);
  };
  // Choosing the entry that is current again after typing changes no index: only activated.
  connect(combo, &QComboBox::activated, this, select);
  connect(combo, &QComboBox::currentIndexChanged, this, select);
  if (combo->isEditable())
    connect(combo->lineEdit(), &QLineEdit::textEdited, this,
            [this, box](const QString& text) { FParameters.SetText(box, text.toStdString()); });
}

void TfrmSettings::ShowBox(TParamBox box) {
  QComboBox* combo = Box(box);
  const TBoxState& state = FParameters.Box(box);
  const QSignalBlocker blocker(combo);
  if (!SameEntries(*combo, state.Entries)) {
    combo->clear();
    for (const std::string& entry : state.Entries) combo->addItem(QString::fromStdString(entry));
  }
  combo->setMaxVisibleItems(std::max(1, combo->count()));
  combo->setCurrentIndex(state.ItemIndex);
  const QString text = QString::fromStdString(state.Text);
  if (combo->isEditable())
    combo->setEditText(text);
  else
    // A stored value without an entry (a frame rate kept from an earlier list) shows as text.
    combo->setPlaceholderText(state.ItemIndex < 0 ? text : QString());
  combo->setEnabled(state.Enabled);
}

void TfrmSettings::ShowBoxes() {
  for (const TParamBoxDef& def : ParamBoxDefs()) ShowBox(def.Box);
}

bool TfrmSettings::CheckBox(TParamBox box) {
  const bool accepted = FParameters.LeaveBox(box).Accepted;
  ShowBox(box);
  return accepted;
}

int TfrmSettings::BoxOf(const QObject* widget) const {
  const auto found = std::find(std::begin(FBoxes), std::end(FBoxes), widget);
  return found == std::end(FBoxes) ? -1 : static_cast<int>(found - std::begin(FBoxes));
}

bool TfrmSettings::eventFilter(QObject* watched, QEvent* event) {
  const int index = BoxOf(watched);
  if (index < 0) return QDialog::eventFilter(watched, event);
  const auto box = static_cast<TParamBox>(index);
  if (event->type() == QEvent::KeyPress) {
    const std::optional<char> key = FilterCharacter(*static_cast<QKeyEvent*>(event));
    if (!key || FParameters.KeyPress(box, *key) == TKeyVerdict::kvAccept) return false;
    QApplication::beep();
    return true;
  }
  if (event->type() == QEvent::FocusOut) {
    // The box's own drop-down, a switch to another window and the dialog closing do not
    // leave the box.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (isVisible() && reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) CheckBox(box);
  }
  return false;
}

void TfrmSettings::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) Reload();
  QDialog::showEvent(event);
}

void TfrmSettings::Reload() {
  edt1->BuildFormatList();
  edt1->LoadCurrentFormat();
  const int code = edt1->CurrentCode();
  FParameters.LoadLists(FStore, code);
  FParameters.RestoreOrShowDefaults(FSettings.Ini(), FStore, code, true);
  ShowBoxes();
}

// Another format chosen in the dialog: its stored choices by index, typed values not
// restored; what was changed for the previous format is dropped.
void TfrmSettings::edt1Change(int code, const QString&) {
  FParameters.LoadLists(FStore, code);
  FParameters.RestoreOrShowDefaults(FSettings.Ini(), FStore, code, false);
  ShowBoxes();
}

void TfrmSettings::btnDefaultClick() {
  FParameters.ApplyDefaults(FStore, edt1->CurrentCode());
  ShowBoxes();
}

void TfrmSettings::btnOkClick() {
  // Reached by a key (Enter, Alt+O) the focus has not left the box being typed in: check it
  // first, and let the user see a refused value before anything is stored.
  const int focused = BoxOf(focusWidget());
  if (focused >= 0 && ParamBoxDef(static_cast<TParamBox>(focused)).Editable && !CheckBox(static_cast<TParamBox>(focused)))
    return;
  const int code = edt1->CurrentCode();
  const std::string& name = edt1->CurrentFormatName();
  TUserFormatSection section(FSettings.Ini(), code);
  bool written = section.Write(ProfileKey::Description, name);
  FParameters.StoreValues(FSettings.Ini(), FStore, code);
  written = edt1->SaveCategoryStates() && written;
  written = FSettings.SetCurrentFormat(name, code) && written;
  if (!written) {
    DialogSeam().ShowMessage("Warning", "The settings could not be written to " + FSettings.Ini().FileName() + ".",
                             TMessageIcon::miWarning);
    reject();
    return;
  }
  accept();
}

bool TfrmSettings::Execute(QWidget* parent, const TSettingsStore& settings, const TFormatStore& store, int& code) {
  // Every showing starts from the files, so a dialog made for this showing is the same as
  // one kept for the run.
  TfrmSettings dialog(settings, store, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  code = dialog.edt1->CurrentCode();
  return true;
}
