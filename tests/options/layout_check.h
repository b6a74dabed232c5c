#pragma once
// A layout check for shown option sheets and dialogs: walks every visible
// widget and reports each text that does not fit its room (a label, a radio,
// check or push button, a group title, a closed combo box and its items, a
// list or tree item) and each scroll bar a list, tree or read-only text
// shows. An empty result means every text is whole.

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTreeWidget>

#include <string>
#include <vector>

namespace tovrin_test {

inline std::string LayoutName(const QWidget* w) {
  std::string name = w->metaObject()->className();
  if (!w->objectName().isEmpty()) name += " " + w->objectName().toStdString();
  return name;
}

inline void CheckTreeItems(const QTreeWidget* tree, const QTreeWidgetItem* parent,
                           std::vector<std::string>& out) {
  const QFontMetrics fm(tree->font());
  for (int i = 0; i < parent->childCount(); ++i) {
    const QTreeWidgetItem* item = parent->child(i);
    const QRect rect = tree->visualItemRect(item);
    // The item's text starts a few pixels into its rectangle.
    const int need = fm.horizontalAdvance(item->text(0)) + 4;
    if (rect.isValid() && rect.width() < need)
      out.push_back(LayoutName(tree) + ": item \"" + item->text(0).toStdString() + "\" cut");
    CheckTreeItems(tree, item, out);
  }
}

// The texts of `root` and its visible descendants that do not fit.
inline std::vector<std::string> TextsThatDoNotFit(const QWidget* root) {
  std::vector<std::string> out;
  std::vector<const QWidget*> all{root};
  for (const QWidget* w : root->findChildren<const QWidget*>()) all.push_back(w);
  for (const QWidget* w : all) {
    if (!w->isVisible()) continue;
    const QFontMetrics fm(w->font());
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
      if (label->pixmap().isNull() && !label->wordWrap()) {
        const int room = label->contentsRect().width() - 2 * label->margin();
        for (const QString& line : label->text().split('\n'))
          if (fm.horizontalAdvance(line) > room)
            out.push_back(LayoutName(w) + ": \"" + line.toStdString() + "\" cut");
        if (label->sizeHint().height() > label->height()) out.push_back(LayoutName(w) + ": lines cut");
      }
    } else if (qobject_cast<const QRadioButton*>(w) || qobject_cast<const QCheckBox*>(w) ||
               qobject_cast<const QPushButton*>(w)) {
      const auto* button = static_cast<const QAbstractButton*>(w);
      if (button->sizeHint().width() > button->width())
        out.push_back(LayoutName(w) + ": \"" + button->text().toStdString() + "\" cut");
    } else if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
      if (fm.horizontalAdvance(group->title()) + 16 > group->width())
        out.push_back(LayoutName(w) + ": title \"" + group->title().toStdString() + "\" cut");
    } else if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
      QStyleOptionComboBox option;
      option.initFrom(combo);
      const QRect field =
          combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
      for (int i = 0; i < combo->count(); ++i)
        if (fm.horizontalAdvance(combo->itemText(i)) > field.width())
          out.push_back(LayoutName(w) + ": item \"" + combo->itemText(i).toStdString() +
                        "\" cut when closed");
    } else if (const auto* tree = qobject_cast<const QTreeWidget*>(w)) {
      CheckTreeItems(tree, tree->invisibleRootItem(), out);
      if (tree->verticalScrollBar()->isVisible() || tree->horizontalScrollBar()->isVisible())
        out.push_back(LayoutName(w) + ": scroll bar");
    } else if (const auto* list = qobject_cast<const QListWidget*>(w)) {
      for (int i = 0; i < list->count(); ++i) {
        const QRect rect = list->visualItemRect(list->item(i));
        if (rect.isValid() && rect.width() < fm.horizontalAdvance(list->item(i)->text()) + 4)
          out.push_back(LayoutName(w) + ": item \"" + list->item(i)->text().toStdString() + "\" cut");
      }
      if (list->verticalScrollBar()->isVisible() || list->horizontalScrollBar()->isVisible())
        out.push_back(LayoutName(w) + ": scroll bar");
    } else if (const auto* text = qobject_cast<const QPlainTextEdit*>(w)) {
      if (text->isReadOnly() &&
          (text->horizontalScrollBar()->isVisible() || text->verticalScrollBar()->isVisible()))
        out.push_back(LayoutName(w) + ": scroll bar");
    }
  }
  return out;
}

}  // namespace tovrin_test
