#pragma once
// The picture preview of the extended file dialog: a bordered control that
// shows the selected file's picture scaled to fit with its aspect ratio
// kept, drawn at the top-left corner, the rest in the dialog's face colour.
//
// It loads a BMP directly, the first frame of a raw YUV file (converted to
// RGB), other stills through the dialog's decoder, and the first frame of a
// media source through the owner callback. A media frame may arrive on a
// worker thread: the control then builds a QImage there and posts it to its
// own (UI) thread; it never touches widgets or pixmaps off that thread.
// A media request runs on a thread of its own while the dialog waits for it
// at most kMediaPreviewBoundMs.

#include <QFrame>
#include <QImage>
#include <QRect>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "io/media_request.h"
#include "media/frame_buffer.h"
#include "shell/file_dialog_logic.h"

namespace PreviewCtrl {

// The rectangle the picture is drawn in: at (0, 0), scaled by the smaller of
// the two ratios, each side rounded to nearest; empty for an empty area or
// picture.
QRect FitPictureRect(QSize picture, QRect area);
// True when a fitted picture of `fitted` size must be made again for a
// client of `client` size: it is wider or taller, or both narrower and lower.
bool NeedsRefit(QSize fitted, QSize client);

// The sender id a media preview of a format reports under (0 for a format
// that is not previewed through the media graph).
std::int32_t PreviewSenderId(std::int32_t format);

// A packed bottom-up 24- or 32-bit frame as an upright image (a copy);
// a null image for any other frame.
QImage ImageFromFrame(const ZarnTypes::TFrameBuffer& frame);

class CPreviewCtrl : public QFrame, public FileDialogEx::IPreviewTarget {
  Q_OBJECT
 public:
  static constexpr const char* kNoVideoData = "No video data is available";

  explicit CPreviewCtrl(QWidget* parent = nullptr);
  ~CPreviewCtrl() override;

  // The decoder of still images (the dialog's); sets the request's success.
  using TDecoder = std::function<void(ZarnTypes::TMediaRequest&)>;
  void SetDecoder(TDecoder decoder) { m_decoder = std::move(decoder); }
  // The runner of media requests (the media-graph and MNG readers): it
  // grabs the first frame into the request's frame or reports it through
  // PreviewOwnerCallback. Without one the decoder runs them; with neither,
  // media files are not previewed.
  void SetMediaRunner(TDecoder runner) { m_mediaRunner = std::move(runner); }
  // Where a media reader's stream header goes (the dialog's panel).
  using TInfoSink = std::function<void(std::int32_t senderKind, const std::int32_t* values)>;
  void SetInfoSink(TInfoSink sink) { m_infoSink = std::move(sink); }

  bool LoadBmpFile(const std::string& path, FileDialogEx::TStillInfo* info = nullptr);
  bool SetFrame(const ZarnTypes::TFrameBuffer& frame);
  bool SetImage(QImage image);

  // --- FileDialogEx::IPreviewTarget ---
  bool LoadYuvFrame(const std::string& path, std::int32_t width, std::int32_t height,
                    std::int32_t yuvFormat) override;
  bool LoadImage(const std::string& path, std::int32_t format, FileDialogEx::TStillInfo& info) override;
  bool LoadMedia(const std::string& path, std::int32_t format) override;
  void Clear() override;

  // The owner callback of media requests; context is the control. Frames
  // may come from any thread.
  static bool PreviewOwnerCallback(void* context, ZarnTypes::TMediaNotify code,
                                   const ZarnTypes::TMediaSender* sender, void* data);
  bool OnMediaNotify(ZarnTypes::TMediaNotify code, const ZarnTypes::TMediaSender* sender, void* data);
  bool OnFrameNotice(const ZarnTypes::TMediaFrameNotice* notice);

  // How long a media preview may keep the dialog waiting for its first
  // frame; a source that takes longer (a damaged file the media framework
  // keeps prerolling) is not previewed, and its request ends on its own.
  static constexpr int kMediaPreviewBoundMs = 1500;
  // The media requests given up on that are still running (tests).
  static int AbandonedMediaLoads();

  const QImage& SourcePicture() const { return m_source; }
  const QImage& FittedPicture() const { return m_fitted; }
  bool HasPicture() const { return !m_source.isNull(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool event(QEvent* event) override;

 private:
  struct TMediaLoad;
  class TWorkers;
  static TWorkers& Workers();
  void Refit();

  QImage m_source;
  QImage m_fitted;
  bool m_bNoVideoData = false;
  TDecoder m_decoder;
  TDecoder m_mediaRunner;
  TInfoSink m_infoSink;
  // Each load and each clearing starts a new generation: a picture posted
  // by an earlier load that arrives later is dropped.
  std::atomic<std::uint32_t> m_generation{0};
  // A frame notice came during the running media request.
  std::atomic<bool> m_bFrameNoticed{false};
};

}  // namespace PreviewCtrl
