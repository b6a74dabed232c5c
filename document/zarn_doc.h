#pragma once
// The media document: four channels (index 0..3, shown as 1..4), each with
// its source and format records, its video port and the video pane that
// shows it; the processing engine; and every per-document setting the option
// pages edit. The document lives on the UI thread inside its child frame
// (CChildFrameSplitter), which owns it.
//
// Registration with the shell: the application's document template creates
// a media document with its window through CreateMediaDocumentFrame
// (document/child_frame.h), and MediaDocumentTemplate() gives the template
// to register at start-up.

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QToolBar>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "document/pane_messages.h"
#include "document/record_writer.h"
#include "document/video_port.h"
#include "document/zarn.h"
#include "document/zarn_doc_engine.h"
#include "document/zoom.h"
#include "io/codecs/gif_mgr.h"
#include "io/codecs/image.h"
#include "io/codecs/jpeg2000_mgr.h"
#include "io/codecs/png_mgr.h"
#include "io/codecs/save_image.h"
#include "io/codecs/save_picture.h"
#include "io/codecs/save_stream.h"
#include "io/codecs/tiff_mgr.h"
#include "media/dib.h"
#include "media/frame_buffer.h"
#include "media/media_source.h"
#include "options/channel_selector_exchange.h"
#include "options/opts_doc_strings_exchange.h"
#include "options/opts_media_document_exchange.h"
#include "options/opts_pict_in_pict_exchange.h"
#include "options/opts_reference_frames_exchange.h"
#include "options/opts_save_stream_exchange.h"
#include "options/opts_transform_2d_exchange.h"
#include "options/opts_video_exchange.h"
#include "options/opts_video_pane_exchange.h"
#include "platform/qt/commands.h"
#include "platform/sync.h"
#include "shell/app_params.h"
#include "shell/document_template.h"
#include "shell/prog_cfg.h"
#include "shell/toolbars.h"

namespace ChildFrameSplitter {
class CChildFrameSplitter;
}
namespace ZarnView {
class CZarnView;
}
namespace ZarnControllerView {
class CZarnControllerView;
}

namespace ZarnTypes {

inline constexpr int kChannelCount = 4;
inline constexpr int kPaneCount = 4;

// A channel's video-pane settings (the Video Pane option page).
struct TVideoPaneSettings {
  bool bFastStretch = true;    // fast stretching while playing
  std::int32_t nViewMode = 4;  // stretch mode while not playing: 3 fast, 4 smooth
  std::int32_t nPlayMode = 3;  // stretch mode while playing
  std::int32_t nValue[3] = {};
  bool bFlag = true;
};

// A pane's picture-in-picture record.
struct TPictInPict {
  bool bEnabled = false;
  std::int32_t nOptionsValue = 0;  // read and written by the PIP options page only
  std::int32_t nInsetChannel = 0;  // the channel whose picture the inset shows
  std::int32_t nPlacement = 0;     // non-zero: position from the picture's top left
  std::int32_t nX = 50;
  std::int32_t nY = 50;
  std::int32_t nWidth = 160;
  std::int32_t nHeight = 120;
  std::int32_t nSourceRect = 0;  // non-zero: show only the source rectangle
  std::int32_t nSourceX = 0;
  std::int32_t nSourceY = 0;  // counted from the top
  std::int32_t nSourceWidth = 640;
  std::int32_t nSourceHeight = 480;
  std::int32_t nLast = 4;  // read and written by the PIP options page only
};

// The raw-YUV settings of the "Open to" file dialog.
struct TYuvOpenSettings {
  std::int32_t nMode = 1;
  std::int32_t nFormat = 70;  // TFileFormat
  bool bSingleImage = false;
  std::int32_t nWidth = 640;
  std::int32_t nHeight = 480;
};

// What a file is opened into a channel with.
struct TOpenSourceArgs {
  std::string path;
  std::int32_t channel = 0;  // 0..3
  std::int32_t format = 0;   // TFileFormat; 0: derived from the extension
  std::int32_t unused = 0;
  std::int32_t width = 0;   // raw YUV only
  std::int32_t height = 0;  // raw YUV only
  bool sequence = false;    // raw YUV only: kept as the source's read flag
};

// Options of a media-graph open (all zero for files).
struct TDShowOpenOptions {
  bool reopen = false;     // re-opened in place: the session resumes at the reader's position
  bool configure = false;  // show the device's property page first
  std::int32_t deviceCategory = 0;
  std::int32_t deviceKind = 0;
  std::int32_t extensionTag = 0;  // MEDIA_REQ_DEVICE_CONFIG or MEDIA_REQ_DVD
  std::int32_t value = 0;
  void* extension = nullptr;
};

// What the explorer pane asks of a document: a description of it, or an
// action on it.
enum TExplorerOperation : std::int32_t {
  EXPLORER_OP_DESCRIBE = 1,
  EXPLORER_OP_ACTION = 2,
};

enum TExplorerAction : std::int32_t {
  EXPLORER_ACT_ACTIVATE = 1,     // bring the document's window forward
  EXPLORER_ACT_FILE_OPEN = 3,    // the application's File Open
  EXPLORER_ACT_OPEN_TO = 4,      // "Open File To" into this document
  EXPLORER_ACT_CLOSE = 5,        // close the document's window
  EXPLORER_ACT_CLOSE_FROM = 6,   // "Close From..."
  EXPLORER_ACT_COPY = 7,         // Copy of the first pane
  EXPLORER_ACT_PASTE = 8,        // the clipboard's picture into channel 0
  EXPLORER_ACT_PROPERTIES = 12,  // describe, then show the document in the properties pane
};

// The description a document gives of itself, and the action asked.
struct TExplorerDocInfo {
  std::string sTitle;
  // Per channel: a device's or DVD's display name, else the source's path.
  std::array<std::string, kChannelCount> sChannelPath;
  std::array<const TMediaSource*, kChannelCount> pSource{};
  std::int32_t nAction = 0;  // TExplorerAction
};

// The identity of the document an explorer request names (its registry
// entry's kind, number and serial).
struct TExplorerDocIdentity {
  std::int32_t nKind = 0;
  std::int32_t nNumber = 0;
  std::int32_t nSerial = 0;
};

struct TExplorerRequest {
  std::int32_t nOperation = 0;  // TExplorerOperation
  bool bAnswered = false;
  TExplorerDocIdentity identity;
  TExplorerDocInfo* pInfo = nullptr;
};

// The block the properties notice points at as its document field.
inline constexpr std::array<std::int32_t, 4> kPropertiesNoticeBlock = {1, 256, 1, 1};

}  // namespace ZarnTypes

namespace DocManagerEx {
class CDocManagerEx;
}

namespace ZarnDoc {

// The document's callback object, handed to the media-graph requests.
class CCallbackZarnDoc : public CallbackBase::CCallbackBase {
 public:
  explicit CCallbackZarnDoc(CZarnDoc* document) : m_pDocument(document) {}
  BOOL Callback1(std::int32_t a, std::int32_t b, std::int32_t c) override;
  BOOL Callback2(std::int32_t, std::int32_t, std::int32_t) override { return TRUE_; }
  BOOL Callback3(std::int32_t, std::int32_t, std::int32_t) override { return TRUE_; }
  CZarnDoc* Document() const { return m_pDocument; }

 private:
  CZarnDoc* m_pDocument;
};

class CZarnDoc : public QObject, public shell::IMediaDocument {
  Q_OBJECT
 public:
  CZarnDoc();
  ~CZarnDoc() override;
  CZarnDoc(const CZarnDoc&) = delete;
  CZarnDoc& operator=(const CZarnDoc&) = delete;

  // ---- shell::IMediaDocument
  int Number() const override { return m_nDocNumber; }
  std::string Title() const override { return m_strTitle; }
  bool SaveModified() override;
  bool OnOpenDocument(const std::string& path) override;
  void StartPlaying() override;
  bool IsPlaying() const override { return m_Engine.IsRunning(); }
  bool OnCmdMsg(UINT id, platform::qt::TCmdCode code, platform::qt::TCmdUI* ui) override;

  // ---- identity and title
  const std::string& DocName() const { return m_strDocName; }
  std::int32_t Serial() const { return m_nDocSerial; }
  // Sets the title shown in the frame's tab; with a pending title the
  // composed title is taken instead of `title`.
  void SetTitle(const std::string& title);
  // Composes the title from the name and the channels' sources.
  void BuildTitle();
  // Stores the display form of a channel's path and re-titles.
  bool SetSourceDisplayName(const std::string& path, int channel);
  static std::string ShortenUrlForDisplay(const std::string& url);

  // ---- windows
  // Links the frame and its views: each view is identified (the panes learn
  // their index), the ports get their first pictures, and the frame is
  // asked for the primary-only layout. Called once the frame stands.
  void SetUpViews(ChildFrameSplitter::CChildFrameSplitter* frame,
                  ZarnControllerView::CZarnControllerView* controller,
                  const std::array<ZarnView::CZarnView*, ZarnTypes::kPaneCount>& panes);
  ChildFrameSplitter::CChildFrameSplitter* ChildFrame() const;
  ZarnControllerView::CZarnControllerView* ControllerView() const;
  ZarnView::CZarnView* PaneView(int pane) const;
  // Every view of the document: the controller pane, then panes 0..3.
  std::vector<platform::qt::ICommandTarget*> Views() const;
  // Offers a command to every view except `sender`; true once one handled it.
  bool RouteCmdToViews(platform::qt::ICommandTarget* sender, UINT id, platform::qt::TCmdCode code,
                       platform::qt::TCmdUI* ui);

  // ---- pane layout
  void SetPaneChannels(const ZarnTypes::TPaneLayoutExchange& block);
  // Repaints the panes that show a channel (rescaled when its picture's size
  // changed) and those whose picture-in-picture inset shows it.
  void RefreshChannelPanes(int channel, bool sizeChanged);

  // ---- zoom and orientation
  bool SetZoomMode(std::int32_t mode);
  bool GetPaneZoomFactor(int pane, float& factor) const;
  void ZoomStep(bool up);
  bool RunCustomZoomDialog();
  void ExchangeZoomSettings(ZarnTypes::TZoomExchange& block);
  int TransformPane(int port, std::int32_t orientation, bool absolute);
  void RescaleAllPanes();

  // ---- playing (zarn_doc_play.cpp)
  // Walks each navigating channel's folder to its first (1), last (2),
  // previous (3) or next (4) file and opens it; false when the user ended
  // the walk at a file that could not be opened.
  bool NavigateSourceList(std::int32_t direction);
  // Runs the Channel Selector in a mode (TNavigateMode) over the controller
  // pane; true when it was accepted.
  bool RunChannelSelector(std::int32_t mode);
  // Settings exchanges of the Channel Selector, the reference-frames page
  // and the video page.
  void ExchangeChannelSelection(ZarnTypes::TNavigateExchange& block);
  void ExchangeReferenceFrames(ZarnTypes::TReferenceFramesExchange& block);
  void ExchangeVideoSettings(ZarnTypes::TVideoExchange& block);

  // ---- option exchanges and sheets (zarn_doc_options.cpp)
  // The shared category message by topic (TOptsTopic): 1 when the topic
  // is handled here (answered or not), 0 otherwise.
  platform::qt::LRESULT OnOptsCategory(platform::qt::WPARAM topic, platform::qt::LPARAM block);
  void ExchangeMediaDocumentSettings(ZarnTypes::TMediaDocumentExchange& block);
  void ExchangeOovSettings(ZarnTypes::TOovSettingsExchange& block);
  void ExchangeH264Settings(ZarnTypes::TH264SettingsExchange& block);
  void ExchangeThirdGroupSettings(ZarnTypes::TDocStrings3Exchange& block);
  // The Video Pane page (zarn_doc_video_pane.cpp): the four channels'
  // video-pane records, read and written also while playing.
  void ExchangeVideoPaneSettings(ZarnTypes::TVideoPaneExchange& block);
  // The Picture In Picture page (zarn_doc_video_pane.cpp): the four panes'
  // inset records whole, read and written also while playing.
  void ExchangePipSettings(ZarnTypes::TPictInPictExchange& block);
  // The "Save stream" and "Capture image" pages (zarn_doc_save_opts.cpp):
  // every setting of the four recorders and capture writers with the
  // channels' record flags and the recording switch; a write is refused
  // while the engine runs.
  void ExchangeSaveStreamSettings(ZarnTypes::TSaveStreamExchange& block);
  void ExchangeSaveImageSettings(ZarnTypes::TSaveImageExchange& block);
  // The Transform 2D page (zarn_doc_video_pane.cpp): read gives each
  // channel's picture flag and orientation; apply turns every flagged
  // channel to the block's code, also while playing.
  void ExchangeTransform2D(ZarnTypes::TTransform2DExchange& block);
  // View / Rotate and Reflect "Custom...": the Transform 2D sheet.
  void RunTransformSheet();
  // Tools "Options..." (the list sheet) or "More Options..." (the tree),
  // read-only while the engine runs; the sheet's result.
  int RunOptionsSheet(bool tree);
  // Lives around the modal loop of every sheet or dialog of the document: a
  // close asked for while one is up (the close waiter's timer fires inside
  // that loop) waits until the last has ended, since their pages and
  // controls read the document through pointers.
  class TModalScope {
   public:
    explicit TModalScope(CZarnDoc* doc);
    ~TModalScope();
    TModalScope(const TModalScope&) = delete;
    TModalScope& operator=(const TModalScope&) = delete;

   private:
    QPointer<CZarnDoc> m_pDoc;
  };
  // A sheet or dialog of the document is up.
  bool ModalUp() const { return m_nSheetsUp > 0; }
  int m_nSheetsUp = 0;
  bool m_bCloseAfterSheet = false;
  // What the controller pane shows and sets.
  std::int32_t ShownFrame(int channel) const;
  // A media file's frame period and duration in milliseconds, as its open
  // found them (0 when the file did not tell).
  double ChannelFramePeriodMs(int channel) const;
  double ChannelDurationMs(int channel) const;
  bool ChannelStreaming(int channel) const;
  void SetPlaySpeed(std::int32_t speed);
  // The reader of a channel 0..3 (the controller pane's device exchange).
  ReadStream::CReadStream& ChannelReader(int channel);

  // ---- position and volume of media channels (zarn_doc_media.cpp)
  // Seeks a channel's media file or animation to position / maximum of its
  // duration: while the engine plays, the channel's session seeks; otherwise
  // the source is re-opened in place and shows the picture there. False,
  // with nothing changed, for a channel that has no position and, with
  // nothing playing, for the very end (position = maximum), which the media
  // graph does not seek to.
  bool SeekChannel(int channel, std::int32_t position, std::int32_t maximum);
  // Sets a media channel's volume to level / maximum (kept by its reader and
  // applied to a playing session); false for a channel without sound.
  bool SetChannelVolume(int channel, std::int32_t level, std::int32_t maximum);

  // ---- opening files into channels (zarn_doc_open.cpp)
  // "Open File To": asks for a file and opens it into the first channel
  // without a source (the primary one when all are taken).
  void OnFileOpenTo();
  // "Open File To" through the document manager's prompt.
  void OpenFileToThroughManager(DocManagerEx::CDocManagerEx& manager);
  // Opens a file into a channel with the remembered raw-YUV settings; on
  // success the frame shows the channel's panes and the controller pane is
  // refreshed. Failures are not reported here.
  bool OpenSource(const std::string& path, int channel);
  bool OpenSourceInChannel(const ZarnTypes::TOpenSourceArgs& args);
  // shell::IMediaDocument: OpenSource, reporting a file that cannot be opened.
  bool OpenInChannel(const std::string& path, int channel) override;
  bool LoadBmpSource(const ZarnTypes::TOpenSourceArgs& args);
  bool LoadYuvSource(const ZarnTypes::TOpenSourceArgs& args);
  bool LoadJpegSource(const ZarnTypes::TOpenSourceArgs& args);
  bool LoadJpeg2000Source(const ZarnTypes::TOpenSourceArgs& args);
  bool LoadPngSource(const ZarnTypes::TOpenSourceArgs& args);
  bool LoadGifSource(const ZarnTypes::TOpenSourceArgs& args);
  bool LoadTiffSource(const ZarnTypes::TOpenSourceArgs& args);
  bool LoadMngSource(const ZarnTypes::TOpenSourceArgs& args, bool reopen);
  bool LoadDShowSource(const ZarnTypes::TOpenSourceArgs& args, const ZarnTypes::TDShowOpenOptions& options);
  bool OpenDvdSource(const std::string& path, std::int32_t extCode, int channel);
  // Decodes the file of one request synchronously with the decoder of its
  // source format; the outcome is the request's success flag.
  void DecodeMediaRequest(ZarnTypes::TMediaRequest& request);
  static void ShowOpenFailure(const std::string& path);
  // Recounts the channels whose source is open.
  int CountOpenChannels();
  // The file prompt of "Open File To" ("" when cancelled); tests replace it.
  using TOpenFilePrompt = std::function<std::string(QWidget* parent)>;
  static void SetOpenFilePrompt(TOpenFilePrompt prompt);

  // ---- life and application defaults (zarn_doc_life.cpp)
  // Links the document to the application's records and copies the start
  // file values and the saved defaults; run once the views are linked.
  bool SetUpDocument();
  void ApplyStartParameters(const shell::TAppParams& params, const shell::TChannelParamsSet& set);
  void ApplySavedDefaults(const shell::TProgCfg& cfg, const std::array<shell::TChannelNaming, 4>& sequence,
                          const std::array<shell::TChannelNaming, 4>& images);
  // Writes the per-channel defaults back; bytes of the blocks that carry no
  // field keep what they held.
  void StoreSavedDefaults(shell::TProgCfg& cfg, std::array<shell::TChannelNaming, 4>& sequence,
                          std::array<shell::TChannelNaming, 4>& images) const;
  void CopyNamingPaths(const shell::TAppParams& params);
  // False while the engine plays.
  bool CanCloseFrame() const;
  // The document goes: the explorer forgets it and its defaults are stored.
  void OnCloseDocument();
  // "Close": closes the window, or stops the engine and closes once it has.
  void OnFileClose();
  bool CloseWaiting() const;
  // How often and how many times a close looks at the engine (20 ms, 250).
  void SetCloseWait(int intervalMs, int tries);

  // ---- comparison and document tools (zarn_doc_tools.cpp)
  // PSNR of channel 1 against channel 2, reported in a message box; returns
  // the outcome code (0 value, 1 identical, 2 sizes differ, 3 failed).
  int OnToolsPsnr();
  void TogglePip(int pane);
  void OnViewRefresh();
  // The options sheet of a document command (PIP options, properties, files
  // of type, sort by), owned by the controller pane; nothing while the
  // program has no page of the command's category.
  void RunDocumentSheet(UINT id);
  // The project file of "Save Project...": an XML declaration.
  static void WriteProjectXml(std::ostream& out);
  // "Close From...": closes the channels the user picks.
  void OnFileCloseFrom();
  // Closes one channel's source: records reset, picture back to 1 x 1.
  void CloseChannel(int channel);
  // The Close From prompt: given the open flags, fills the channels to close
  // and answers true for OK; tests replace it.
  using TCloseFromPrompt =
      std::function<bool(const std::array<std::uint8_t, 4>& open, std::array<std::uint8_t, 4>& close)>;
  static void SetCloseFromPrompt(TCloseFromPrompt prompt);

  // ---- panes (zarn_doc_view.cpp)
  // Paste: the picture on the clipboard becomes the picture of the channel
  // a pane shows, as the source "Clipboard" + the application's next
  // clipboard number. False, with the channel as it was, when the clipboard
  // holds no picture, the channel plays or the picture cannot be taken.
  bool PasteFromClipboard(int pane);

  // ---- saving and capturing pictures (zarn_doc_save.cpp)
  // The picture in the format with the document's encoder settings.
  bool SaveImageByFormat(const std::string& path, std::int32_t format, const Dib::TDibSection& bitmap) const;
  // Save and Save As: a copy of a channel's picture, channel and format
  // chosen in the save prompt; nothing else of the document changes.
  void OnFileSaveCopy();
  // The prompt's answers taken back and the chosen channel's picture saved;
  // "Can not save image to file\n%s" on failure.
  bool OnSaveDocument(const std::string& path);
  // Save, Save As and Copy have something to work on: a channel has a source.
  bool CanSaveCopy() const;
  // Capture Image: each channel with a source and a capture switch set puts
  // its picture on the clipboard ("Send copy to Clipboard") and writes the
  // next numbered file ("Save copy to file"); the first failure stops with
  // "Can not capture image from the channel %d".
  void OnCaptureImage();
  // "Get" and the file of Capture Image: the channel's picture as its
  // writer's next numbered file (while playing, the shown frame's number).
  bool CaptureChannelImage(int channel);
  // "Save": the picture of channel 3 (writer 0) or 4 (writer 1) as file
  // `number` of that writer; with `composite` the pane's picture-in-picture
  // composite instead.
  bool SaveReferenceImage(int writer, std::int32_t number, bool composite);
  // The "Save" button of channel 2 or 3 (0-based): numbers it and saves.
  bool OnSaveReference(int channel);
  // The picture-in-picture composite of pane record `index` into a picture
  // the caller owns: main picture the channel `index` (0 or 1) with
  // `ownChannel`, else the channel pane `index` shows.
  bool BuildPipComposite(int index, bool ownChannel, Dib::TDibSection& composite) const;
  // Packed 24-bit rows (3 x width bytes each, bottom row first) as a BMP
  // file with rows padded to 4 bytes.
  bool WriteRgb24AsBmp(const std::uint8_t* bits, int width, int height, const std::string& path);
  // A decoded frame as "%06d.bmp" (the frame number) in the decoder folder.
  bool WriteDecodedFrameBmp(const std::uint8_t* bits, int width, int height, std::int32_t frameNumber);
  std::string DecodedFramePath(std::int32_t frameNumber) const;
  // The engine's owner: the engine's notices reach the document through it.
  Zarn::IEngineOwner& EngineOwner() { return *m_pEngineLink; }
  // The engine showed a decoded layer frame (pacing thread).
  void OnDecodedFrameShown(std::int32_t frameNumber, const std::uint8_t* yuv420, std::int32_t width,
                           std::int32_t height);
  // Channel 0's picture as a 24-bit BMP file.
  bool SavePrimaryPictureAsBmp(const std::string& path);
  // The capture writers from the saved settings (m_CaptureCfg, m_ImgNaming),
  // and their values back into records of that form (counter included).
  void LoadImageSavers();
  void StoreImageSavers(std::array<shell::TCaptureCfg, 4>& capture,
                        std::array<shell::TChannelNaming, 4>& images) const;
  // The four capture writers, one per channel.
  std::array<SaveImage::CSaveImage, ZarnTypes::kChannelCount> m_ImageSaver{
      SaveImage::CSaveImage(0), SaveImage::CSaveImage(1), SaveImage::CSaveImage(2), SaveImage::CSaveImage(3)};

  // ---- recording (zarn_doc_record.cpp)
  // "Start / Stop recording": switches the document's recording and each
  // selected channel's recorder on (opened first, then the switch) or off
  // (paused; the files stay open until the session ends).
  void OnCaptureRecord();
  // One channel's part of the command, while the engine plays and the
  // channel is selected and has a source: opens, resumes or pauses its
  // recorder; a recorder that cannot open takes the channel out of the
  // recording. Every call makes the next session a new recording.
  void SetChannelRecording(bool on, int channel);
  // The shown picture of the channel as frame `frameNumber` of its
  // recording (pacing thread).
  bool WriteRecordedFrame(int channel, std::int32_t frameNumber);
  // What the per-frame writer reads of a channel's recorder, the
  // picture-in-picture composite it asks for included (UI thread).
  RecordWriter::TRecordSettings RecordSettings(int channel);
  // Numbers the session's recording and copies the recorders' settings for
  // the session about to start (UI thread).
  void MakeRecordStart(RecordWriter::TRecordStart& start);
  // Set-up: each recorder takes the session number and the next take number
  // and builds its first output name.
  void NumberRecorders();
  // The recorders from the saved settings (m_RecorderCfg, m_SeqNaming), and
  // their values back into records of that form; bytes that carry no
  // setting keep what the records held.
  void LoadRecorders();
  void StoreRecorders(std::array<shell::TRecorderCfg, 4>& recorders,
                      std::array<shell::TChannelNaming, 4>& sequence) const;

  // ---- the explorer pane
  // Describes the document or runs an action the explorer pane asks for.
  // False, with the request unanswered, for a request without its info
  // block, an unknown operation or an action the document does not take.
  bool OnExplorerRequest(ZarnTypes::TExplorerRequest& request);

  // ---- notices to the main frame
  void NotifyExplorer(std::int32_t code);
  void NotifyTabGroups();
  void NotifyOpenButton(std::int32_t commandId);

  // A per-channel flag the engine owns (a TEngineChannel member), read and
  // written through the document under the document's name for it. The
  // document keeps no copy: what the commands and pages set is what the
  // engine's threads read.
  class TEngineChannelFlag {
   public:
    class TRef {
     public:
      explicit TRef(std::atomic<bool>& flag) : m_Flag(flag) {}
      TRef(const TRef&) = default;
      operator bool() const { return m_Flag.load(); }
      bool operator=(bool value) {
        m_Flag.store(value);
        return value;
      }
      bool operator=(const TRef& other) { return *this = static_cast<bool>(other); }
      friend std::ostream& operator<<(std::ostream& os, const TRef& flag) {
        return os << static_cast<bool>(flag);
      }

     private:
      std::atomic<bool>& m_Flag;
    };
    TEngineChannelFlag(Zarn::CZarn& engine, std::atomic<bool> Zarn::TEngineChannel::*flag)
        : m_Engine(engine), m_Flag(flag) {}
    TRef operator[](int channel) const { return TRef(m_Engine.m_Channel[channel].*m_Flag); }

   private:
    Zarn::CZarn& m_Engine;
    std::atomic<bool> Zarn::TEngineChannel::*m_Flag;
  };

  // ---- data model (members the engine, panes and option exchanges read)

  // Identity.
  std::int32_t m_nDocKind = 1;
  std::int32_t m_nDocNumber = 0;
  std::int32_t m_nDocSerial = 0;
  std::string m_strDocName;
  std::string m_strDocTitle;
  bool m_bTitlePending = false;
  bool m_bSetUpDone = false;

  // The engine.
  // Linked to the document by m_pEngineLink (document/zarn_doc_engine.cpp).
  Zarn::CZarn m_Engine;

  // Video ports and the frames delivered into them.
  VideoPortHub::CVideoPortHub m_VideoPortHub;
  std::int32_t m_nPaneChannel[ZarnTypes::kPaneCount] = {0, 1, 2, 3};
  ZarnTypes::TVideoPaneSettings m_VideoPane[ZarnTypes::kChannelCount];
  // Work pictures: [0] holds the print snapshot.
  VideoPort::TPicture m_WorkBitmap[2];

  // The info line's text. The engine owns it; this reads it from there.
  class TStatusText {
   public:
    explicit TStatusText(const Zarn::CZarn& engine) : m_Engine(engine) {}
    operator std::string() const { return m_Engine.StatusText(); }

   private:
    const Zarn::CZarn& m_Engine;
  };
  TStatusText m_strStatus{m_Engine};
  std::uint8_t m_bVideoInfo[2] = {};

  // Decoder start settings (start parameter keys).
  bool ch_bEnableDecoderOOV = false;
  std::string ch_sSysDirOOV, ch_sIniFileOOV, ch_sSrcDirOOV, ch_sOOVSFileIn, ch_sOOVSFileOut;
  bool ch_bEnableVideoOOV = true;
  bool ch_bEnableFtpSource = false;
  bool ch_bEnableDecoderH264 = false;
  std::string ch_sSysDirH264, ch_sIniFileH264, ch_sSrcFileH264;
  bool ch_bEnableVideoH264 = true;
  bool ch_bEnableSaveDecodedFramesYUV = false;
  bool ch_bEnableSaveDecodedFramesBmp = false;
  bool ch_bEnableProcess[4] = {true, true, false, false};
  bool ch_bEnableClientProcess[4] = {false, false, false, false};

  // Zoom.
  bool m_bSameZoomFactor = true;
  bool ch_bEnable2XImage = false;
  std::int32_t m_nPrevZoomMode = ZarnTypes::kDefaultZoomMode;
  std::int32_t m_nZoomMode = ZarnTypes::kDefaultZoomMode;
  float m_fZoomFactor[ZarnTypes::kPaneCount] = {1.0f, 1.0f, 1.0f, 1.0f};
  bool m_bHasPicture[ZarnTypes::kChannelCount] = {};

  // The third group of document strings.
  struct TDocStrings3 {
    bool bFirst = false;
    std::string s[3];
    bool bLast = true;
  } m_DocStrings3;

  // Channels.
  std::int32_t m_nOpenCount = 0;
  ZarnTypes::TMediaSource m_Source[ZarnTypes::kChannelCount];
  ZarnTypes::TStreamFormat m_Format[ZarnTypes::kChannelCount];
  bool m_bNavigate[4] = {true, false, false, false};
  // The play selection (the engine takes it when a session starts) and the
  // replay selection (read live while replaying); channel 1 by default.
  TEngineChannelFlag m_bPlayEnable{m_Engine, &Zarn::TEngineChannel::bPlayEnable};
  TEngineChannelFlag m_bReplayEnable{m_Engine, &Zarn::TEngineChannel::bReplayEnable};
  bool m_bDvdNavigate[4] = {true, false, false, false};
  TEngineChannelFlag m_bReverseReplay{m_Engine, &Zarn::TEngineChannel::bReverseReplay};

  bool ch_bEnableDecoderMpeg2 = true;

  // Recording.
  // The recording switches: the engine's, read live by its threads.
  std::atomic<bool>& m_bRecording = m_Engine.m_bRecording;
  TEngineChannelFlag m_bRecordChannel{m_Engine, &Zarn::TEngineChannel::bRecordChannel};
  bool m_bRecordSessionCounted = true;
  std::int32_t m_nRecordSession = 0;
  // Each channel numbers its recordings on its own: its number is the
  // document's session number and the channel's shift (what the user set as
  // the channel's next clip index), both raised together.
  std::array<std::int32_t, ZarnTypes::kChannelCount> m_nClipShift{};
  // The number the channel's next recording carries, and setting it (the
  // recordings after it count on from there).
  std::int32_t NextClipNumber(int channel) const;
  void SetNextClipNumber(int channel, std::int32_t number);
  // The four recorders, one per channel, and the writer that records the
  // frames the engine shows into them.
  std::array<SaveStream::CSaveStream, ZarnTypes::kChannelCount> m_Recorder{
      SaveStream::CSaveStream(0), SaveStream::CSaveStream(1), SaveStream::CSaveStream(2),
      SaveStream::CSaveStream(3)};
  RecordWriter::CRecordWriter m_RecordWriter{
      m_Engine, m_VideoPortHub, {&m_Recorder[0], &m_Recorder[1], &m_Recorder[2], &m_Recorder[3]}};

  // Timing.
  std::int32_t ch_nDecoderCtrlPeriod = 33;
  std::int32_t ch_nDecoderRequestToStopPeriod = 2000;
  std::int32_t ch_nDecoderVideoOutPeriod = 33;
  std::int32_t ch_nDecoderVideoOutDelay = 1000;
  std::int32_t m_nSyncMode = 1;
  // Whether a channel plays a media-graph or MNG source: the engine's flag
  // (its process sets it); the loaders clear it when a channel opens.
  TEngineChannelFlag m_bChannelStreaming{m_Engine, &Zarn::TEngineChannel::bChannelStreaming};

  // Network role.
  std::int32_t ch_nDecoderID = 0;
  bool ch_bIsServerDecoder = false;
  bool ch_bIsClientDecoder = false;
  bool ch_bEnableSocketServClient = true;
  std::string ch_sIPAddressServer;
  std::string ch_sNetworkID_Server;
  std::array<std::string, 8> ch_sNetworkID_Client;
  std::array<std::string, 8> ch_sClientDir_Inp;
  std::array<std::string, 8> ch_sClientDir_Out;
  std::array<std::string, 8> ch_sIniFileH264_Client;
  std::array<std::string, 8> ch_sServer_ClientDir;

  // The main frame's toolbars whose buttons the document's update handlers
  // set, handed over by the child frame; each may be null.
  enum TDocToolBar : int {
    DOC_TB_STANDARD,
    DOC_TB_NAVIGATE,
    DOC_TB_GO,
    DOC_TB_REPLAY,
    DOC_TB_CAPTURE,
    DOC_TB_ZOOM,
    DOC_TB_DVD,
    kDocToolBarCount
  };
  std::array<QPointer<QToolBar>, kDocToolBarCount> m_pToolBar;
  // The toolbars that show the document's state; null while not handed over.
  ToolBarNavigate::CToolBarNavigate* NavigateToolBar() const {
    return qobject_cast<ToolBarNavigate::CToolBarNavigate*>(m_pToolBar[DOC_TB_NAVIGATE].data());
  }
  ToolBarGo::CToolBarGo* GoToolBar() const {
    return qobject_cast<ToolBarGo::CToolBarGo*>(m_pToolBar[DOC_TB_GO].data());
  }
  ToolBarReplay::CToolBarReplay* ReplayToolBar() const {
    return qobject_cast<ToolBarReplay::CToolBarReplay*>(m_pToolBar[DOC_TB_REPLAY].data());
  }
  ToolBarCapture::CToolBarCapture* CaptureToolBar() const {
    return qobject_cast<ToolBarCapture::CToolBarCapture*>(m_pToolBar[DOC_TB_CAPTURE].data());
  }
  ToolBarDvd::CToolBarDvd* DvdToolBar() const {
    return qobject_cast<ToolBarDvd::CToolBarDvd*>(m_pToolBar[DOC_TB_DVD].data());
  }

  // The application's records (set by the document set-up).
  shell::TAppParams* m_pAppParams = nullptr;
  shell::TChannelParamsSet* m_pParamsSet = nullptr;

  // FTP input settings.
  std::string m_strFtpSite, m_strFtpUser, m_strFtpPassword, m_strFtpFile;
  std::string ch_sFtpSiteAddr, ch_sFtpUserName, ch_sFtpPassword, ch_sRemoteFile, ch_sLocalFile;
  std::int32_t ch_nDelayFtpBuffer = 0;

  // Save settings.
  bool m_bSaveReplace = false;
  bool m_bSaveFlag = false;
  ZarnTypes::TYuvOpenSettings m_YuvOpen;
  ZarnTypes::TEncoderSettings m_Encoders;

  // The Open URL dialog's history, the picture-in-picture records (one per
  // pane) and the capability bytes of each channel's capture device.
  std::array<std::string, 5> m_UrlHistory;
  ZarnTypes::TPictInPict m_Pip[ZarnTypes::kPaneCount];
  std::uint8_t m_DeviceCaps[4][5] = {};

  // The image holder of BMP decodes (its pictures live until the next one).
  Image::CImage m_Image;
  // Saved per-channel settings of the readers, image savers and recorders,
  // kept whole so that they go back to the settings as they came.
  std::array<shell::TChannelFilesCfg, 4> m_ChannelFiles{};
  std::array<shell::TCaptureCfg, 4> m_CaptureCfg{};
  std::array<shell::TRecorderCfg, 4> m_RecorderCfg{};
  std::array<shell::TChannelNaming, 4> m_SeqNaming;
  std::array<shell::TChannelNaming, 4> m_ImgNaming;
  // Frames the decoded-picture buffer is asked to hold (ch_nFramesCount_RQ).
  std::int32_t ch_nFramesCount_RQ = 600;

  CCallbackZarnDoc m_Callback{this};

 private:
  void RegisterCommands();
  void RegisterOpenCommands();
  void RegisterLifeCommands();
  void RegisterToolCommands();
  void RegisterOptionsCommands();
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool PutFrameInPort(int channel, ZarnTypes::TFrameBuffer& frame);
  bool StillThroughDecoder(const ZarnTypes::TOpenSourceArgs& args, ZarnTypes::TStreamType type,
                           ZarnTypes::TPixelFormat framePixelFormat);
  void FillOpenedSource(const ZarnTypes::TOpenSourceArgs& args, ZarnTypes::TStreamType type,
                        std::int32_t width, std::int32_t height, ZarnTypes::TPixelFormat framePixelFormat,
                        bool read, bool picture);
  void OnCloseWaitTick();
  QTimer* m_pCloseTimer = nullptr;
  int m_nCloseWaitMs = 20;
  int m_nCloseMaxTries = 250;
  int m_nCloseTries = 0;
  bool m_bClosed = false;
  void RegisterViewCommands();
  void RegisterSaveCommands();
  void RegisterPlayCommands();
  void OnZoomPreset(std::int32_t mode);
  void OnZoomFit(std::int32_t mode);
  void OnTransform(std::int32_t orientation, bool absolute);
  QObject* MainWindow() const;

  platform::qt::CCmdTarget m_Commands;
  // Window links, null until the set-up (and again once a window is gone).
  QPointer<ChildFrameSplitter::CChildFrameSplitter> m_pChildFrame;
  QPointer<ZarnControllerView::CZarnControllerView> m_pControllerView;
  std::array<QPointer<ZarnView::CZarnView>, ZarnTypes::kPaneCount> m_pPaneView;
  std::string m_strTitle;  // the title shown in the frame's tab
  bool m_bRegistered = false;
  // The engine's owner; the last member, so that it stops and joins the
  // engine's session before anything the session uses goes.
  std::unique_ptr<CZarnDocEngineLink> m_pEngineLink = std::make_unique<CZarnDocEngineLink>(this);
};

}  // namespace ZarnDoc
