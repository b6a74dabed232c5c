// The caption paths of the tree sheet, the message of a group item and the
// keyboard order of the tree.
#include "options/tree_page_path.h"

#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace TreePropSheet;

namespace {

// The tree as "text(data)" lines, indented by level.
void Dump(const QTreeWidgetItem* item, int depth, std::string& out) {
  for (int i = 0; i < item->childCount(); ++i) {
    const QTreeWidgetItem* c = item->child(i);
    out += std::string(static_cast<std::size_t>(2 * depth), ' ') + c->text(0).toStdString() + "(" +
           std::to_string(PageIndexOf(c)) + ")\n";
    Dump(c, depth + 1, out);
  }
}

std::string TreeOf(const std::vector<QString>& captions) {
  QTreeWidget tree;
  for (std::size_t i = 0; i < captions.size(); ++i) {
    QTreeWidgetItem* item = InsertPagePath(captions[i], tree.invisibleRootItem());
    item->setData(0, Qt::UserRole, static_cast<int>(i));
  }
  std::string out;
  Dump(tree.invisibleRootItem(), 0, out);
  return out;
}

}  // namespace

TEST(TreePagePath, SplitCaptionPathTable) {
  struct Row {
    QString path;
    QString level;
    QString rest;
  };
  const Row rows[] = {
      {"WebCam::Primary Channel", "WebCam", "Primary Channel"},
      {"General", "General", ""},
      {"A::B::C", "A", "B::C"},
      // One backslash before the only "::": taken as written, backslash and all.
      {"Web\\::Cam", "Web\\::Cam", ""},
      // An escaped "::" before an unescaped one: the level keeps "::" without its backslash.
      {"Web\\::Cam::Primary", "Web::Cam", "Primary"},
      // Two backslashes do not escape: they become one.
      {"Web\\\\::Cam", "Web\\", "Cam"},
      // Three: one escaped backslash, then an escaped separator.
      {"Web\\\\\\::Cam::X", "Web\\::Cam", "X"},
      {"\\::", "\\::", ""},
      {"::General", "", "General"},
      {"Group::", "Group", ""},
      {":::X", "", ":X"},
      {"", "", ""},
  };
  for (const Row& r : rows) {
    QString path = r.path;
    EXPECT_EQ(SplitCaptionPath(path).toStdString(), r.level.toStdString()) << r.path.toStdString();
    EXPECT_EQ(path.toStdString(), r.rest.toStdString()) << r.path.toStdString();
  }
}

TEST(TreePagePath, InsertPagePathTable) {
  struct Row {
    const char* name;
    std::vector<QString> captions;
    const char* tree;
  };
  const Row rows[] = {
      {"webcam example",
       {"WebCam::Primary Channel", "WebCam::Assistant Channel", "General"},
       "WebCam(-1)\n  Primary Channel(0)\n  Assistant Channel(1)\nGeneral(2)\n"},
      {"one escaped separator", {"Web\\::Cam"}, "Web\\::Cam(0)\n"},
      {"escaped before unescaped", {"Web\\::Cam::Primary"}, "Web::Cam(-1)\n  Primary(0)\n"},
      {"three identical captions",
       {"DV Camcoder::Assistant Channel", "DV Camcoder::Assistant Channel", "DV Camcoder::Assistant Channel"},
       "DV Camcoder(-1)\n  Assistant Channel(2)\n"},
      {"backslash and colons alone", {"\\::"}, "\\::(0)\n"},
      {"leading separator is ignored", {"::General", "General"}, "General(1)\n"},
      {"case matters", {"web::a", "Web::b"}, "web(-1)\n  a(0)\nWeb(-1)\n  b(1)\n"},
      {"deep path", {"A::B::C", "A::D"}, "A(-1)\n  B(-1)\n    C(0)\n  D(1)\n"},
  };
  for (const Row& r : rows) EXPECT_EQ(TreeOf(r.captions), r.tree) << r.name;
}

TEST(TreePagePath, EmptyPageMessagePutsTheTextInAsAnArgument) {
  const QString format = "Please select a child item of '%s'.";
  EXPECT_EQ(FormatEmptyPageMessage(format, "WebCam").toStdString(),
            "Please select a child item of 'WebCam'.");
  EXPECT_EQ(FormatEmptyPageMessage(format, "TV Tuner").toStdString(),
            "Please select a child item of 'TV Tuner'.");
  // A group text with format directives is shown as it is.
  EXPECT_EQ(FormatEmptyPageMessage(format, "%s%n%d%%").toStdString(),
            "Please select a child item of '%s%n%d%%'.");
  EXPECT_EQ(FormatEmptyPageMessage("100%% of '%s' %s", "x").toStdString(), "100% of 'x' %s");
  EXPECT_EQ(FormatEmptyPageMessage("no directive", "x").toStdString(), "no directive");
}

TEST(TreePagePath, KeyOrderOverTheOptionsTreeWrapsBothWays) {
  // The pages of the options tree, in the order the sheet adds them.
  QTreeWidget tree;
  QTreeWidgetItem* root = tree.invisibleRootItem();
  const QString captions[] = {"General",
                              "Media document",
                              "DV Camcoder::Primary Channel",
                              "WebCam::Primary Channel",
                              "TV Tuner::Primary Channel",
                              "DV Camcoder::Assistant Channel",
                              "WebCam::Assistant Channel",
                              "TV Tuner::Assistant Channel"};
  for (const QString& c : captions) InsertPagePath(c, root);
  ASSERT_EQ(root->childCount(), 5);

  const std::vector<std::string> order = {
      "General",         "Media document",    "DV Camcoder", "Primary Channel", "Assistant Channel", "WebCam",
      "Primary Channel", "Assistant Channel", "TV Tuner",    "Primary Channel", "Assistant Channel"};
  auto path = [](QTreeWidgetItem* item) {
    std::string p = item->text(0).toStdString();
    for (QTreeWidgetItem* up = item->parent(); up; up = up->parent()) p = up->text(0).toStdString() + "/" + p;
    return p;
  };
  // Forward twice round: the last item wraps to the first.
  std::vector<std::string> seen;
  QTreeWidgetItem* item = root->child(0);
  for (std::size_t i = 0; i < 2 * order.size(); ++i) {
    seen.push_back(item->text(0).toStdString());
    item = NextTreeItem(root, item);
  }
  std::vector<std::string> twice = order;
  twice.insert(twice.end(), order.begin(), order.end());
  EXPECT_EQ(seen, twice);
  // Backward from the first item: wraps to the deepest last item, then
  // walks the same order in reverse.
  seen.clear();
  item = root->child(0);
  for (std::size_t i = 0; i < order.size(); ++i) {
    item = PreviousTreeItem(root, item);
    seen.push_back(item->text(0).toStdString());
  }
  std::vector<std::string> reversed(order.rbegin(), order.rend());
  EXPECT_EQ(seen, reversed);
  EXPECT_EQ(path(PreviousTreeItem(root, root->child(0))), "TV Tuner/Assistant Channel");
  EXPECT_EQ(path(NextTreeItem(root, PreviousTreeItem(root, root->child(0)))), "General");

  QTreeWidget empty;
  EXPECT_EQ(NextTreeItem(empty.invisibleRootItem(), nullptr), nullptr);
  EXPECT_EQ(PreviousTreeItem(empty.invisibleRootItem(), nullptr), nullptr);
}
