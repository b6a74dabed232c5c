#include "options/opts_page.h"

#include <QDialog>

#include <array>

#include "platform/message_sink.h"

namespace OptsPage {

COptsPage::COptsPage(QString label, QWidget* parent) : QWidget(parent), m_label(std::move(label)) {}

COptsPage::~COptsPage() = default;

void COptsPage::EndSheetWithCancel() {
  auto* sheet = qobject_cast<QDialog*>(window());
  if (!sheet || sheet == static_cast<QWidget*>(this)) return;
  sheet->reject();
  QMetaObject::invokeMethod(sheet, &QDialog::reject, Qt::QueuedConnection);
}

void COptsPage::Initialize() {
  if (m_bInitialized) return;
  m_bInitialized = true;
  m_bInitResult = OnInitDialog();
}

void COptsPage::ShowPageMessage(const std::string& text) {
  platform::ShowMessage(text, {}, platform::MB_OK | platform::MB_ICONEXCLAMATION);
}

bool COptsPage::ReadAnswered(bool answered, const std::string& failText) {
  m_bReadFailed = !answered;
  if (!answered) ShowPageMessage(failText);
  return answered;
}

bool COptsPage::WriteAnswered(bool answered, const std::string& failText) {
  if (!answered) ShowPageMessage(failText);
  return answered;
}

// --- failure texts -----------------------------------------------------------

namespace {

struct TFailureTexts {
  const char* read;
  const char* write;
};

TFailureTexts FailureTexts(TOptsPageKind kind) {
  switch (kind) {
    case PAGE_APP_LOOK:
      return {"Configuration data about application look are not available.",
              "Configuration data about application look can not be set"};
    case PAGE_MDI_TABS:
      return {"Configuration data for a MDI tabs are not available.",
              "Configuration data for MDI tabs can not be set"};
    case PAGE_TOOLBAR:
      return {"Configuration data about toolbars are not available.",
              "Configuration data for toolbars can not be set"};
    case PAGE_OPEN_MEDIA_SOURCE:
    case PAGE_DIRECTSHOW:
      return {"Configuration data are not available", "Configuration data can not be set"};
    case PAGE_MEDIA_DOCUMENT: return {"Configuration data for channels is not available", ""};
    case PAGE_FILES_OF_TYPE:
      return {"Configuration data for 'Files of type' option dialog are not available",
              "Configuration data for 'Files of type' option dialog can not be set"};
    case PAGE_FILE_SORTING:
      return {"Configuration data for 'File sorting' option dialog are not available",
              "Configuration data for 'File sorting' option dialog can not be set"};
    case PAGE_READ_STREAM:
      return {"Configuration data for \"Read stream\" operatinos are not available",
              "Configuration data for \"Read stream\" operations can not be set"};
    case PAGE_SAVE_STREAM:
      return {"Configuration data for \"Save Stream\" operation are not available",
              "Configuration data for Save Stream operation cannot be set"};
    case PAGE_SAMPLING:
      return {"Configuration data about \"save stream sampling methods\" are not available.",
              "Configuration data for \"save stream sampling methods\" cannot be set."};
    case PAGE_SAVE_IMAGE:
      return {"Configuration data for \"Capture Image\" operation are not available",
              "Configuration data for \"Capture Image\" operations can not be set"};
    case PAGE_DVD:
    case PAGE_DVD_NAVIGATE: return {"Configuration data for DVD media source is not available.", ""};
    case PAGE_VIDEO_PANE:
      return {"Configuration data for 'Video pane' option dialog are not available",
              "Configuration data for 'Video pane' options dialog can not be set"};
    case PAGE_TRANSFORM_2D: return {"Configuration data for dialog is not available", ""};
    case PAGE_YUV:
      return {"Configuration data for YUV file are not available",
              "Configuration data for YUV file can not be set"};
    case PAGE_JPEG:
      return {"Configuration data for Jpeg file are not available",
              "Configuration data for Jpeg file can not be set"};
    case PAGE_JPEG2000:
      return {"Configuration data for JPEG-2000 file are not available",
              "Configuration data for JPEG-2000 file can not be set"};
    case PAGE_PNG:
      return {"Configuration data for Png file are not available",
              "Configuration data for Png file can not be set"};
    case PAGE_GIF:
      return {"Configuration data for Gif file are not available",
              "Configuration data for GIF file can not be set"};
    case PAGE_TIFF:
      return {"Configuration data for Tiff file are not available",
              "Configuration data for TIFF file can not be set"};
    case PAGE_AVI:
      return {"Configuration data for Avi file are not available",
              "Configuration data for Avi file can not be set"};
    case PAGE_WMF:
      return {"Configuration data for Wmf file/stream are not available",
              "Configuration data for Wmf file/stream can not be set"};
    case PAGE_REFERENCE_FRAMES:
      return {"Configuration data for \"Set reference frames\" operation are not available",
              "Configuration data for \"Set reference frames\" operation  can not be set"};
    case PAGE_VIDEO:
      return {"Configuration data for 'Video' operations are not available",
              "Configuration data for 'Video' operations can not be set"};
    case PAGE_PIP:
      return {"Configuration data for 'Picture In Picture' operation are not available",
              "Configuration data for 'Picture In Picture' operation can not be set"};
    default: return {"", ""};
  }
}

}  // namespace

const char* ReadFailedText(TOptsPageKind kind) { return FailureTexts(kind).read; }
const char* WriteFailedText(TOptsPageKind kind) { return FailureTexts(kind).write; }

// --- factories ---------------------------------------------------------------

namespace {

std::array<TPageFactory, PAGE_KIND_COUNT>& Factories() {
  static std::array<TPageFactory, PAGE_KIND_COUNT> factories;
  return factories;
}

bool ValidKind(TOptsPageKind kind) { return kind >= 0 && kind < PAGE_KIND_COUNT; }

}  // namespace

TPageFactory RegisterOptionsPage(TOptsPageKind kind, TPageFactory factory) {
  RegisterStandardOptionsPages();  // a later first use must not undo this one
  if (!ValidKind(kind)) return {};
  TPageFactory previous = std::move(Factories()[static_cast<std::size_t>(kind)]);
  Factories()[static_cast<std::size_t>(kind)] = std::move(factory);
  return previous;
}

bool HasOptionsPage(TOptsPageKind kind) {
  RegisterStandardOptionsPages();
  return ValidKind(kind) && static_cast<bool>(Factories()[static_cast<std::size_t>(kind)]);
}

COptsPage* CreateOptionsPage(TOptsPageKind kind) {
  if (!HasOptionsPage(kind)) return nullptr;
  return Factories()[static_cast<std::size_t>(kind)]();
}

}  // namespace OptsPage
