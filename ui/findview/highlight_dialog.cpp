#include "ui/findview/highlight_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <array>

#include "ui/findview/match_fields_group.h"

namespace qv {

QColor ToQColor(Colour colour) { return QColor(RedOf(colour), GreenOf(colour), BlueOf(colour)); }

Colour FromQColor(const QColor& colour) {
  return MakeColour(static_cast<uint32_t>(colour.red()), static_cast<uint32_t>(colour.green()),
                    static_cast<uint32_t>(colour.blue()));
}

HighlightColours SystemHighlightColours() {
  const QPalette palette = QApplication::palette();
  return {FromQColor(palette.color(QPalette::Text)), FromQColor(palette.color(QPalette::Base))};
}

std::optional<QColor> CHighlightDialog::ChooseColour(const QColor& initial, Swatch swatch, QWidget* parent) {
  // The chooser's custom colours are one set for the whole program; each button keeps its own
  // set by swapping it in and out around the dialog.
  static std::array<std::array<QColor, 16>, 2> customColours = [] {
    std::array<std::array<QColor, 16>, 2> sets;
    for (auto& set : sets) set.fill(Qt::white);
    return sets;
  }();
  auto& set = customColours[static_cast<size_t>(swatch)];
  for (int i = 0; i < 16; ++i) QColorDialog::setCustomColor(i, set[static_cast<size_t>(i)]);
  QColorDialog dialog(initial, parent);
  const bool accepted = dialog.exec() == QDialog::Accepted;
  for (int i = 0; i < 16; ++i) set[static_cast<size_t>(i)] = QColorDialog::customColor(i);
  if (!accepted) return std::nullopt;
  return dialog.selectedColor();
}

CHighlightDialog::CHighlightDialog(QWidget* parent, ColourChooser choose)
    : QDialog(parent),
      choose_(std::move(choose)),
      list_(new QTreeWidget(this)),
      text_(new QLineEdit(this)),
      regExp_(new QCheckBox("Use Regexp", this)) {
  setWindowTitle("Edit Highlighting");
  list_->setObjectName("texts");
  list_->setColumnCount(1);
  list_->setHeaderLabels({"String"});
  list_->setRootIsDecorated(false);
  list_->setItemsExpandable(false);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setDragDropMode(QAbstractItemView::InternalMove);
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  text_->setObjectName("text");
  regExp_->setObjectName("regexp");

  auto* matchGroup = new QGroupBox("Match String", this);
  auto* matchLayout = new QVBoxLayout(matchGroup);
  matchLayout->addWidget(text_);
  matchLayout->addWidget(regExp_);

  auto* coloursGroup = new QGroupBox("Colors", this);
  auto* coloursLayout = new QHBoxLayout(coloursGroup);
  const char* captions[] = {"Text", "Background"};
  for (int i = 0; i < 2; ++i) {
    swatches_[i] = new QLabel(coloursGroup);
    swatches_[i]->setFixedSize(32, 20);
    swatches_[i]->setFrameShape(QFrame::Box);
    swatches_[i]->setAutoFillBackground(true);
    auto* button = new QPushButton(captions[i], coloursGroup);
    button->setObjectName(captions[i]);
    coloursLayout->addWidget(swatches_[i]);
    coloursLayout->addWidget(button);
    const Swatch swatch = static_cast<Swatch>(i);
    connect(button, &QPushButton::clicked, this, [this, swatch] { PickColour(swatch); });
  }
  const HighlightColours system = SystemHighlightColours();
  SetSwatch(Swatch::kText, ToQColor(system.text));
  SetSwatch(Swatch::kBackground, ToQColor(system.background));

  auto* addModify = new QPushButton("Add/Modify", this);
  auto* clearAll = new QPushButton("Clear All", this);
  auto* remove = new QPushButton("Delete", this);
  auto* ok = new QPushButton("OK", this);
  auto* cancel = new QPushButton("Cancel", this);
  ok->setDefault(true);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {addModify, clearAll, remove, ok, cancel}) buttons->addWidget(button);
  auto* fields = new QVBoxLayout;
  fields->addWidget(matchGroup);
  fields->addWidget(coloursGroup);
  fields->addStretch();
  auto* columns = new QHBoxLayout;
  columns->addWidget(list_);
  columns->addLayout(fields);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns);
  layout->addLayout(buttons);

  connect(addModify, &QPushButton::clicked, this, &CHighlightDialog::AddModify);
  connect(clearAll, &QPushButton::clicked, this, &CHighlightDialog::ClearAll);
  connect(remove, &QPushButton::clicked, this, &CHighlightDialog::DeleteSelected);
  connect(ok, &QPushButton::clicked, this, &CHighlightDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &CHighlightDialog::reject);
  connect(list_, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { OpenEntry(list_->indexOfTopLevelItem(item)); });

  table_.Load(system);
  ShowTexts();
}

QColor CHighlightDialog::SwatchColour(Swatch swatch) const { return colours_[static_cast<int>(swatch)]; }

void CHighlightDialog::SetSwatch(Swatch swatch, const QColor& colour) {
  const int i = static_cast<int>(swatch);
  colours_[i] = colour;
  QPalette palette = swatches_[i]->palette();
  palette.setColor(QPalette::Window, colour);
  swatches_[i]->setPalette(palette);
}

void CHighlightDialog::PickColour(Swatch swatch) {
  if (const std::optional<QColor> colour = choose_(SwatchColour(swatch), swatch, this)) SetSwatch(swatch, *colour);
}

// Every text drawn in its own colours; items take no drops, so a drag moves a row between
// others and never nests it.
void CHighlightDialog::ShowTexts() {
  list_->clear();
  const HighlightColours system = SystemHighlightColours();
  for (const std::string& text : table_.Texts()) {
    auto* item = new QTreeWidgetItem(list_, {FromBytes(text)});
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled);
    const HighlightEntry* entry = table_.Entry(text);
    const HighlightColours colours = entry != nullptr ? entry->colours : system;
    item->setForeground(0, ToQColor(colours.text));
    item->setBackground(0, ToQColor(colours.background));
  }
}

void CHighlightDialog::TakeOrderFromList() {
  std::vector<std::string> order;
  for (int row = 0; row < list_->topLevelItemCount(); ++row) order.push_back(ToBytes(list_->topLevelItem(row)->text(0)));
  table_.SetOrder(std::move(order));
}

void CHighlightDialog::OpenEntry(int row) {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr) return;
  const HighlightEntry* entry = table_.Entry(ToBytes(item->text(0)));
  if (entry == nullptr) return;
  text_->setText(FromBytes(entry->text));
  regExp_->setChecked(entry->useRegExp);
  SetSwatch(Swatch::kText, ToQColor(entry->colours.text));
  SetSwatch(Swatch::kBackground, ToQColor(entry->colours.background));
}

void CHighlightDialog::AddModify() {
  TakeOrderFromList();
  table_.AddModify({ToBytes(text_->text()), regExp_->isChecked(),
                    {FromQColor(SwatchColour(Swatch::kText)), FromQColor(SwatchColour(Swatch::kBackground))}});
  ShowTexts();
}

void CHighlightDialog::DeleteSelected() {
  TakeOrderFromList();
  std::vector<int> rows;
  for (QTreeWidgetItem* item : list_->selectedItems()) rows.push_back(list_->indexOfTopLevelItem(item));
  table_.Delete(std::move(rows));
  ShowTexts();
}

void CHighlightDialog::ClearAll() {
  table_.ClearAll();
  ShowTexts();
}

void CHighlightDialog::accept() {
  TakeOrderFromList();
  table_.Save();
  QDialog::accept();
}

}  // namespace qv
