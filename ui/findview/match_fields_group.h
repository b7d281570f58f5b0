#pragma once
// The "Match" group of the Filter, Find and custom filter dialogs: address, facility and
// severity lists, message text with its regular-expression switch, host name, the highlight
// switch, and (optionally) "Time received within (secs)". It converts to and from FilterFields;
// the fields carry object names so that tests can fill them.

#include <QGroupBox>
#include <QValidator>

#include "ui/find/filter_fields.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace qv {

// Lets an address field hold only what ParseAddressField takes (the rule editor's check): up to
// four dotted numbers 0..255, blank parts allowed. Every prefix of such a text is one too, so a
// refused keystroke is never needed later.
class CAddressFieldValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& position) const override;
};

class CMatchFieldsGroup : public QGroupBox {
  Q_OBJECT

 public:
  enum class TimeField { kWithout, kWith };
  explicit CMatchFieldsGroup(TimeField time, QWidget* parent = nullptr);

  // Every field except the name, which belongs to the custom filter editor.
  FilterFields Fields() const;
  void SetFields(const FilterFields& fields);

 signals:
  // The user edited a field (setting them does not count).
  void changed();

 private:
  QLineEdit* address_;
  QComboBox* facility_;
  QComboBox* severity_;
  QLineEdit* message_;
  QCheckBox* regExp_;
  QLineEdit* hostName_;
  QCheckBox* highlighted_;
  QLineEdit* seconds_ = nullptr;
};

// Text of a message field as bytes, and back (the store holds UTF-8).
std::string ToBytes(const QString& text);
QString FromBytes(const std::string& bytes);

}  // namespace qv
