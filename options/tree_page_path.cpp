#include "options/tree_page_path.h"

#include <QTreeWidgetItem>

namespace TreePropSheet {

QString SplitCaptionPath(QString& path) {
  static const QString kSeparator = QStringLiteral("::");
  qsizetype from = 0;
  while (true) {
    const qsizetype at = path.indexOf(kSeparator, from);
    if (at < 0) break;
    qsizetype backslashes = 0;
    for (qsizetype i = at - 1; i >= 0 && path[i] == u'\\'; --i) ++backslashes;
    if (backslashes % 2 == 1) {
      from = at + 1;  // escaped: go on after its first colon
      continue;
    }
    QString level = path.left(at);
    level.replace(QStringLiteral("\\::"), QStringLiteral("::"));
    level.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    path = path.mid(at + kSeparator.size());
    return level;
  }
  QString level = path;
  path.clear();
  return level;
}

QTreeWidgetItem* InsertPagePath(QString path, QTreeWidgetItem* parent) {
  if (!parent) return nullptr;
  while (true) {
    const QString level = SplitCaptionPath(path);
    if (level.isEmpty() && !path.isEmpty()) continue;  // an empty level leads nowhere
    QTreeWidgetItem* item = nullptr;
    for (int i = 0; i < parent->childCount(); ++i) {
      if (parent->child(i)->text(0) == level) {
        item = parent->child(i);
        break;
      }
    }
    if (!item) {
      item = new QTreeWidgetItem(parent, QStringList{level});
      item->setData(0, Qt::UserRole, kGroupItemData);
    }
    if (path.isEmpty()) return item;
    parent = item;
  }
}

int PageIndexOf(const QTreeWidgetItem* item) {
  if (!item) return kGroupItemData;
  bool ok = false;
  const int index = item->data(0, Qt::UserRole).toInt(&ok);
  return ok ? index : kGroupItemData;
}

QString FormatEmptyPageMessage(const QString& format, const QString& text) {
  QString out;
  bool used = false;
  for (qsizetype i = 0; i < format.size(); ++i) {
    if (format[i] == u'%' && i + 1 < format.size()) {
      if (format[i + 1] == u'%') {
        out += u'%';
        ++i;
        continue;
      }
      if (format[i + 1] == u's' && !used) {
        out += text;
        used = true;
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

namespace {

QTreeWidgetItem* DeepestLast(QTreeWidgetItem* item) {
  while (item && item->childCount() > 0) item = item->child(item->childCount() - 1);
  return item;
}

QTreeWidgetItem* ParentIn(QTreeWidgetItem* root, QTreeWidgetItem* item) {
  QTreeWidgetItem* parent = item->parent();
  // Top-level items of a QTreeWidget report no parent; the root is theirs.
  return parent ? parent : root;
}

}  // namespace

QTreeWidgetItem* NextTreeItem(QTreeWidgetItem* root, QTreeWidgetItem* current) {
  if (!root || root->childCount() == 0) return nullptr;
  if (!current) return root->child(0);
  if (current->childCount() > 0) return current->child(0);
  for (QTreeWidgetItem* item = current; item && item != root;) {
    QTreeWidgetItem* parent = ParentIn(root, item);
    const int index = parent->indexOfChild(item);
    if (index >= 0 && index + 1 < parent->childCount()) return parent->child(index + 1);
    item = parent;
  }
  return root->child(0);
}

QTreeWidgetItem* PreviousTreeItem(QTreeWidgetItem* root, QTreeWidgetItem* current) {
  if (!root || root->childCount() == 0) return nullptr;
  if (!current) return root->child(0);
  QTreeWidgetItem* parent = ParentIn(root, current);
  const int index = parent->indexOfChild(current);
  if (index > 0) return DeepestLast(parent->child(index - 1));
  if (parent != root) return parent;
  return DeepestLast(root->child(root->childCount() - 1));
}

}  // namespace TreePropSheet
