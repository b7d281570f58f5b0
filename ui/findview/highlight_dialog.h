#pragma once
// Dialog "Edit Highlighting": the text-highlighting entries, edited in a working table
// (CHighlightTable) and written to the settings store only by OK; Cancel writes nothing. The
// list shows each text in its own colours. After OK the caller reloads the list view's
// highlight list and repaints it.

#include <QColor>
#include <QDialog>

#include <functional>
#include <optional>

#include "ui/find/highlight_table.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QTreeWidget;

namespace qv {

QColor ToQColor(Colour colour);
Colour FromQColor(const QColor& colour);
// The system's window-text and window colours, for entries without stored colours.
HighlightColours SystemHighlightColours();

class CHighlightDialog : public QDialog {
  Q_OBJECT

 public:
  enum class Swatch { kText = 0, kBackground = 1 };
  // Chooses a colour starting at `initial`; nothing when cancelled. Replaceable for tests.
  using ColourChooser = std::function<std::optional<QColor>(const QColor& initial, Swatch swatch, QWidget* parent)>;

  explicit CHighlightDialog(QWidget* parent = nullptr, ColourChooser choose = ChooseColour);

  QTreeWidget* List() const { return list_; }
  QLineEdit* TextField() const { return text_; }
  QCheckBox* RegExpBox() const { return regExp_; }
  QColor SwatchColour(Swatch swatch) const;
  const CHighlightTable& Working() const { return table_; }

  // The buttons' actions, also reached by tests.
  void PickColour(Swatch swatch);
  void AddModify();
  void DeleteSelected();
  void ClearAll();
  void OpenEntry(int row);
  void accept() override;

  // The system colour chooser, with 16 custom colours per swatch kept for the program's run.
  static std::optional<QColor> ChooseColour(const QColor& initial, Swatch swatch, QWidget* parent);

 private:
  void ShowTexts();
  void TakeOrderFromList();
  void SetSwatch(Swatch swatch, const QColor& colour);

  ColourChooser choose_;
  CHighlightTable table_;
  QTreeWidget* list_;
  QLineEdit* text_;
  QCheckBox* regExp_;
  QLabel* swatches_[2];
  QColor colours_[2];
};

}  // namespace qv
