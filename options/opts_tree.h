#pragma once
// The options tree behind a media document's Tools "More Options...": the
// General page, the "Media document" page and, per channel pass, the capture
// device pages (DV camcorder, webcam, TV tuner), listed in a tree grouped by
// the "::" levels of their captions. The pages exchange their settings with
// the owner window (the document's controller pane).
//
// Life: construct (caption, owner), optionally SetReadOnly(true), DoModal().
// The General page comes first and exchanges nothing; the other pages are
// made when the sheet opens, and the sheet opens on "Media document".

#include <QString>

#include <cstdint>
#include <functional>

#include "options/tree_prop_sheet.h"

namespace OptsTree {

// The kinds of capture-device page, in the order each pass adds them.
enum TDevicePageKind : int {
  DEVICE_PAGE_DVCAM,
  DEVICE_PAGE_WEBCAM,
  DEVICE_PAGE_TVTUNER,
  DEVICE_PAGE_KIND_COUNT
};

// The caption of a device page: pass 1 addresses the primary channel, the
// others the assistant channel ("WebCam::Primary Channel").
QString DevicePageCaption(TDevicePageKind kind, bool primary);

// Makes the capture-device pages (primary: built for pass 1). Until one is
// registered the sheet shows no device pages. Returns the factory replaced.
using TDevicePageFactory = std::function<OptsPage::COptsPage*(TDevicePageKind kind, bool primary)>;
TDevicePageFactory RegisterDevicePageFactory(TDevicePageFactory factory);

// The text of the message shown for a group item.
inline constexpr const char* kEmptyPageMessage = "Please select a child item of '%s'.";

class COptsTree : public TreePropSheet::CTreePropSheet {
  Q_OBJECT
 public:
  COptsTree(const QString& caption, QObject* owner, QWidget* parent = nullptr);
  ~COptsTree() override;

  void SetReadOnly(bool readOnly) { m_bReadOnly = readOnly; }
  bool ReadOnly() const { return m_bReadOnly; }
  void SetCategory(std::int32_t category) { m_category = category; }
  std::int32_t Category() const { return m_category; }
  QObject* OwnerWindow() const { return m_pOwner; }

  OptsPage::COptsPage* GeneralPage() const { return m_pGeneral; }
  OptsPage::COptsPage* MediaDocumentPage() const { return m_pMediaDocument; }

  void OnInitDialog() override;

 private:
  QObject* m_pOwner = nullptr;
  std::int32_t m_category = 0;
  bool m_bReadOnly = false;
  OptsPage::COptsPage* m_pGeneral = nullptr;
  OptsPage::COptsPage* m_pMediaDocument = nullptr;
  std::vector<OptsPage::COptsPage*> m_devicePages;
};

}  // namespace OptsTree
