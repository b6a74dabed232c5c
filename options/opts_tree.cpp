#include "options/opts_tree.h"

namespace OptsTree {

using OptsPage::COptsPage;

namespace {

TDevicePageFactory& DeviceFactory() {
  static TDevicePageFactory factory;
  return factory;
}

QWidget* ParentOf(QObject* owner, QWidget* parent) {
  if (parent) return parent;
  return qobject_cast<QWidget*>(owner);
}

}  // namespace

QString DevicePageCaption(TDevicePageKind kind, bool primary) {
  const char* group = "";
  switch (kind) {
    case DEVICE_PAGE_DVCAM: group = "DV Camcoder"; break;
    case DEVICE_PAGE_WEBCAM: group = "WebCam"; break;
    case DEVICE_PAGE_TVTUNER: group = "TV Tuner"; break;
    default: return {};
  }
  return QString::fromLatin1(group) + (primary ? "::Primary Channel" : "::Assistant Channel");
}

TDevicePageFactory RegisterDevicePageFactory(TDevicePageFactory factory) {
  TDevicePageFactory previous = std::move(DeviceFactory());
  DeviceFactory() = std::move(factory);
  return previous;
}

COptsTree::COptsTree(const QString& caption, QObject* owner, QWidget* parent)
    : CTreePropSheet(caption, ParentOf(owner, parent)), m_pOwner(owner) {
  // The General page comes first; it exchanges nothing, so it has no owner.
  m_pGeneral = OptsPage::CreateOptionsPage(OptsPage::PAGE_GENERAL);
  if (m_pGeneral) {
    m_pGeneral->SetLabel(QStringLiteral("General"));
    AddPage(m_pGeneral);
  }
}

COptsTree::~COptsTree() = default;  // the pages are children of the sheet

void COptsTree::OnInitDialog() {
  if (InitDone()) return;
  CTreePropSheet::OnInitDialog();
  SetEmptyPageMessage(QString::fromLatin1(kEmptyPageMessage));

  m_pMediaDocument = OptsPage::CreateOptionsPage(OptsPage::PAGE_MEDIA_DOCUMENT);
  if (m_pMediaDocument) {
    m_pMediaDocument->SetLabel(QStringLiteral("Media document"));
    m_pMediaDocument->SetOwner(m_pOwner);
    m_pMediaDocument->SetReadOnly(m_bReadOnly);
    AddPage(m_pMediaDocument);
  }
  if (const TDevicePageFactory& factory = DeviceFactory()) {
    for (int pass = 1; pass <= 4; ++pass) {
      for (int k = 0; k < DEVICE_PAGE_KIND_COUNT; ++k) {
        const auto kind = static_cast<TDevicePageKind>(k);
        COptsPage* page = factory(kind, pass == 1);
        if (!page) continue;
        page->SetLabel(DevicePageCaption(kind, pass == 1));
        page->SetOwner(m_pOwner);
        page->SetReadOnly(m_bReadOnly);
        m_devicePages.push_back(page);
        AddPage(page);
      }
    }
  }
  // Marked before the media-document page is first shown below, so that it
  // reads its block knowing it may not change anything.
  if (m_bReadOnly) {
    CancelToClose();
    if (m_pGeneral) m_pGeneral->setEnabled(false);
  }
  for (int i = 0; i < PageCount(); ++i)
    if (Page(i) == m_pMediaDocument) SetActivePage(i);
}

}  // namespace OptsTree
