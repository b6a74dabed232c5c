#pragma once
// The base of every option page and the table of page kinds.
//
// A page is a widget that a sheet (CZarnOptions) creates, labels and gives an
// owner window and a read-only flag. The sheet calls Initialize() when the
// page is first shown and OnOK() on every page that was shown when the user
// accepts; Cancel calls nothing. A page that exchanges settings reads its
// block with ReadBlock() in OnInitDialog() and writes it back with
// WriteBlock() in OnOK(); both report an unanswered exchange with the page's
// own text in a message box (OK button, the application's title).
//
// Adding a page of a new kind: derive from COptsPage, then register a
// factory for its kind in RegisterStandardOptionsPages()
// (options/opts_page_factory.cpp). Until a kind has a factory, sheets leave
// it out and HasOptionsPage() says false.

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

#include "options/opts_exchange.h"

namespace OptsPage {

// One value per page class.
enum TOptsPageKind : int {
  PAGE_GENERAL,            // COptsGeneral
  PAGE_MEDIA_DOCUMENT,     // COptsMediaDocument
  PAGE_OPEN_MEDIA_SOURCE,  // COptsOpenMediaSource
  PAGE_READ_STREAM,        // COptsReadStream
  PAGE_SAVE_STREAM,        // CZarnOptsSaveStream
  PAGE_SAMPLING,           // COptsSaveStreamSampling
  PAGE_SAVE_IMAGE,         // CZarnOptsSaveImage
  PAGE_FILES_OF_TYPE,      // COptsFilesOfType
  PAGE_FILE_SORTING,       // COptsFileSorting
  PAGE_YUV,                // COptsFileFormat
  PAGE_JPEG,               // COptsJpeg
  PAGE_JPEG2000,           // COptsJpeg2000
  PAGE_PNG,                // COptsPng
  PAGE_GIF,                // COptsGif
  PAGE_TIFF,               // COptsTiff
  PAGE_AVI,                // COptsAvi
  PAGE_WMF,                // COptsWmf
  PAGE_REFERENCE_FRAMES,   // COptsReferenceFrames
  PAGE_VIDEO,              // COptsVideo
  PAGE_VIDEO_PANE,         // COptsVideoPane
  PAGE_PIP,                // COptsPictInPict
  PAGE_MDI_TABS,           // COptsMDITabs
  PAGE_APP_LOOK,           // COptsAppLook
  PAGE_TOOLBAR,            // COptsToolbar
  PAGE_MSG_BOX,            // COptsMsgBox
  PAGE_DIRECTSHOW,         // COptsDirectShow
  PAGE_DVD,                // COptsDvd
  PAGE_DVD_NAVIGATE,       // COptsDvdNavigate
  PAGE_TRANSFORM_2D,       // COptsTransform2D
  PAGE_KIND_COUNT
};

class COptsPage : public QWidget {
  Q_OBJECT
 public:
  explicit COptsPage(QString label, QWidget* parent = nullptr);
  ~COptsPage() override;

  // The text of the page's tab or list entry.
  const QString& Label() const { return m_label; }
  void SetLabel(QString label) { m_label = std::move(label); }

  // Set by the sheet before the page is first shown.
  void SetReadOnly(bool readOnly) { m_bReadOnly = readOnly; }
  bool ReadOnly() const { return m_bReadOnly; }
  void SetOwner(QObject* owner) { m_pOwner = owner; }
  QObject* Owner() const { return m_pOwner; }
  // The sheet's category (the DVD pages derive their topic from it).
  virtual void SetCategory(std::int32_t category) { m_category = category; }
  std::int32_t Category() const { return m_category; }
  // The DirectShow page's start index (0 in every use).
  virtual void SetStartIndex(std::int32_t) {}

  // Runs OnInitDialog() the first time; true once that happened.
  void Initialize();
  bool Initialized() const { return m_bInitialized; }
  // What OnInitDialog() returned (false: the read went unanswered).
  bool InitResult() const { return m_bInitResult; }
  // True when the page's read was not answered by its owner.
  bool ReadFailed() const { return m_bReadFailed; }

  // The sheet's accept: called for every initialized page.
  virtual void OnOK() {}

  // Asked before the sheet leaves the page for another page or a group
  // item, and before OK: false keeps the page shown (as after a failed check
  // of its entries); the sheet then keeps its selection and stays open.
  virtual bool OnKillActive() { return true; }

 protected:
  // First display: fill the controls (from the owner's block). Return false
  // when the owner did not answer.
  virtual bool OnInitDialog() { return true; }

  // Reads a block: op READ, answered 0, sent to the owner. When the owner
  // does not answer, shows `failText` and remembers that the read failed.
  template <class TBlock>
  bool ReadBlock(UINT message, platform::qt::WPARAM wParam, TBlock& block, const std::string& failText) {
    const bool answered =
        ZarnTypes::SendOptsBlock(m_pOwner, message, wParam, block, ZarnTypes::OPTS_XCHG_READ);
    return ReadAnswered(answered, failText);
  }

  // Writes a block back: op WRITE, answered 0. A read-only page sends
  // nothing. A page whose read went unanswered holds no owner values, so it
  // sends nothing either and shows `failText`; an unanswered write shows it
  // too. True when the owner took the block.
  template <class TBlock>
  bool WriteBlock(UINT message, platform::qt::WPARAM wParam, TBlock& block, const std::string& failText) {
    ZarnTypes::OptsHeaderOf(block).op = ZarnTypes::OPTS_XCHG_WRITE;
    ZarnTypes::OptsHeaderOf(block).answered = 0;
    if (m_bReadOnly && !WritesWhenReadOnly()) return false;
    if (m_bReadFailed) return WriteAnswered(false, failText);
    const bool answered =
        ZarnTypes::SendOptsBlock(m_pOwner, message, wParam, block, ZarnTypes::OPTS_XCHG_WRITE);
    return WriteAnswered(answered, failText);
  }

  // A page that hands its block back even in a read-only sheet says so here
  // (the files-of-type page does); every other page sends nothing there.
  virtual bool WritesWhenReadOnly() const { return false; }

  // Shows a text in a message box with only an OK button.
  static void ShowPageMessage(const std::string& text);

  // Ends the sheet the page is on with Cancel, from the page's first display
  // (the sheet's modal loop may start only after it: it then ends at once).
  void EndSheetWithCancel();

 private:
  bool ReadAnswered(bool answered, const std::string& failText);
  bool WriteAnswered(bool answered, const std::string& failText);

  QString m_label;
  bool m_bReadOnly = false;
  QObject* m_pOwner = nullptr;
  std::int32_t m_category = 0;
  bool m_bInitialized = false;
  bool m_bInitResult = false;
  bool m_bReadFailed = false;
};

// The texts a page shows when its owner does not answer its read or its
// write ("" for the pages that exchange nothing or report otherwise).
const char* ReadFailedText(TOptsPageKind kind);
const char* WriteFailedText(TOptsPageKind kind);

// The same texts of the exchanges outside the sheets' page kinds: the
// full-screen dialog, the capture-device pages, and the toolbar page's
// "arrange now".
inline constexpr const char* kFullScreenReadFailed =
    "Configuration data for a full screen mode are not available.";
inline constexpr const char* kFullScreenWriteFailed =
    "Configuration data for a full screen mode can not be set";
inline constexpr const char* kToolbarArrangeFailed = "Can not arrange toolbars";
inline constexpr const char* kDVCamReadFailed = "Configuration data for DV camcoder are not available";
inline constexpr const char* kDVCamWriteFailed = "Configuration data for DV camcoder cannot be set";
inline constexpr const char* kWebCamReadFailed = "Configuration data for webcam are not available";
inline constexpr const char* kWebCamWriteFailed = "Configuration data for webcam can not be set";
inline constexpr const char* kTVTunerReadFailed = "Configuration data for TV tuner are not available";
inline constexpr const char* kTVTunerWriteFailed = "Configuration data for TV tuner can not be set";

// --- the page factories --------------------------------------------------

using TPageFactory = std::function<COptsPage*()>;

// Installs (or, with an empty factory, removes) the factory of a page kind;
// returns the one it replaces.
TPageFactory RegisterOptionsPage(TOptsPageKind kind, TPageFactory factory);
// True when pages of the kind can be made.
bool HasOptionsPage(TOptsPageKind kind);
// A new page of the kind, or nullptr.
COptsPage* CreateOptionsPage(TOptsPageKind kind);
// Registers the program's pages (once; later calls do nothing).
void RegisterStandardOptionsPages();

}  // namespace OptsPage
