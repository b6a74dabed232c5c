#pragma once
// The tree of page captions a tree sheet shows. A caption is a path whose
// levels are separated by "::" ("WebCam::Primary Channel" puts the page
// "Primary Channel" under a group item "WebCam"); a "::" preceded by an odd
// number of backslashes belongs to the level's text.
//
// Items carry their page index as data (Qt::UserRole); group items carry -1.

#include <QString>

class QTreeWidgetItem;

namespace TreePropSheet {

// The data of an item that leads to no page.
inline constexpr int kGroupItemData = -1;

// Takes the first level off `path` and returns it. At the first unescaped
// "::" the level is the text before it with "\::" turned into "::" and then
// "\\" into "\", and `path` becomes the text after it. Without an unescaped
// "::" the whole path is the level, taken as written, and `path` becomes
// empty. A caption that begins with "::" has an empty first level; the
// tree skips such empty levels (InsertPagePath).
QString SplitCaptionPath(QString& path);

// Finds or appends, under `parent`, the item of each level of `path` and
// returns the item of the last one. Levels match an existing child's text
// exactly (the first match is taken); new items get the data -1. An empty
// level followed by further levels adds nothing (a leading "::" is ignored);
// a path that is empty to begin with gets an item with empty text.
QTreeWidgetItem* InsertPagePath(QString path, QTreeWidgetItem* parent);

// The page index an item leads to (-1 for a group item or no item).
int PageIndexOf(const QTreeWidgetItem* item);

// The message shown for a selected group item: `format` with `text` put in
// for its "%s" ("%%" is a percent sign). The text is an argument, never a
// format: its own "%" signs are shown as they are.
QString FormatEmptyPageMessage(const QString& format, const QString& text);

// The keyboard order of the items below `root` (Ctrl+Tab and
// Ctrl+Shift+Tab), group items included. Next: the first child, else the
// next sibling, else the next sibling of the nearest ancestor that has one,
// else the first item. Previous: the previous sibling's deepest last
// descendant, else the parent; before the first item, the deepest last item.
// Without a current item both give the first item; nullptr for an empty tree.
QTreeWidgetItem* NextTreeItem(QTreeWidgetItem* root, QTreeWidgetItem* current);
QTreeWidgetItem* PreviousTreeItem(QTreeWidgetItem* root, QTreeWidgetItem* current);

}  // namespace TreePropSheet
