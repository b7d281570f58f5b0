#pragma once
// Every field of the option dialogs says what it does when the pointer rests on it; the dialogs
// give their texts in one table each, beside the controls they build.

#include <QString>
#include <QWidget>

#include <initializer_list>

namespace qv {

struct ToolTip {
  QWidget* widget;
  const char* text;
};

inline void SetToolTips(std::initializer_list<ToolTip> tips) {
  for (const ToolTip& tip : tips) tip.widget->setToolTip(QString::fromUtf8(tip.text));
}

}  // namespace qv
