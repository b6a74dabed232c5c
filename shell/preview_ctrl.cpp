#include "shell/preview_ctrl.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QPainter>
#include <QResizeEvent>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "io/codecs/mng_mgr.h"
#include "media/color_conversion.h"
#include "media/dib.h"
#include "media/yuv_frame.h"

using namespace ZarnTypes;

namespace PreviewCtrl {

namespace {

// A picture made on another thread, handed to the control's thread.
class TPictureEvent : public QEvent {
 public:
  static QEvent::Type EventType() {
    static const int type = QEvent::registerEventType();
    return static_cast<QEvent::Type>(type);
  }
  TPictureEvent(QImage image, bool noData, std::uint32_t load)
      : QEvent(EventType()), picture(std::move(image)), noVideoData(noData), generation(load) {}
  QImage picture;
  bool noVideoData;
  std::uint32_t generation;
};

}  // namespace

// One media preview request with everything it points at, shared by the
// control and the thread that runs it: a request the control gave up on
// finishes on its own, with nothing of the control left to touch.
struct CPreviewCtrl::TMediaLoad {
  std::string path;
  TFrameBuffer frame{};
  TMediaRequest request{};
  TSourceParams params{};
  MngMgr::TMngParams mng{};  // the block of an MNG request
  // The media flags the request points at: all zero, so it runs until its
  // first frame; stop and end are raised when the control gives up.
  std::atomic<bool> stop{false}, end{false}, seek{false}, sound{false};
  std::atomic<std::int32_t> values[2] = {};  // the seek position (none)
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  CPreviewCtrl* target = nullptr;  // null once given up; guarded by mutex
  // The stream header a reader reported, handed to the dialog on its thread.
  bool hasInfo = false;
  std::int32_t infoKind = 0;
  std::int32_t info[7] = {};

  ~TMediaLoad() { FreeFrameBuffer(&frame); }

  static bool Callback(void* context, TMediaNotify code, const TMediaSender* sender, void* data) {
    auto* self = static_cast<TMediaLoad*>(context);
    if (!self) return false;
    std::lock_guard<std::mutex> lock(self->mutex);
    if (!self->target) return false;
    if (code == MEDIA_NOTIFY_STREAM_INFO) {
      if (sender && data) {
        self->hasInfo = true;
        self->infoKind = sender->eSenderKind;
        std::memcpy(self->info, data, sizeof self->info);
      }
      return false;
    }
    return self->target->OnMediaNotify(code, sender, data);
  }
};

// The threads of media previews that outlived their wait; joined as they
// end, and all of them when the program ends.
class CPreviewCtrl::TWorkers {
 public:
  ~TWorkers() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (TEntry& e : m_entries) {
      e.load->stop = true;
      e.load->end = true;
      if (e.thread.joinable()) e.thread.join();
    }
  }
  void Add(std::thread thread, std::shared_ptr<TMediaLoad> load) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.push_back({std::move(thread), std::move(load)});
  }
  void Reap() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_entries.begin(); it != m_entries.end();) {
      if (IsFinished(*it->load)) {
        it->thread.join();
        it = m_entries.erase(it);
      } else {
        ++it;
      }
    }
  }
  int Running() {
    Reap();
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_entries.size());
  }

 private:
  struct TEntry {
    std::thread thread;
    std::shared_ptr<TMediaLoad> load;
  };
  static bool IsFinished(TMediaLoad& load) {
    std::lock_guard<std::mutex> lock(load.mutex);
    return load.finished;
  }
  std::mutex m_mutex;
  std::list<TEntry> m_entries;
};

CPreviewCtrl::TWorkers& CPreviewCtrl::Workers() {
  static TWorkers workers;
  return workers;
}

std::int32_t PreviewSenderId(std::int32_t format) {
  if (format == 3) return 16;
  if (format == 5 || format == 6) return format + 12;
  if (format >= 8 && format <= 14) return format + 11;
  if (format == 15) return 26;
  if (format >= 19 && format <= 21) return format + 8;
  return 0;
}

QRect FitPictureRect(QSize picture, QRect area) {
  if (area.isEmpty() || picture.width() <= 0 || picture.height() <= 0) return {};
  const double s = std::min(static_cast<double>(area.height()) / picture.height(),
                            static_cast<double>(area.width()) / picture.width());
  const int w = static_cast<int>(picture.width() * s + 0.5);
  const int h = static_cast<int>(picture.height() * s + 0.5);
  return QRect(0, 0, w, h);
}

bool NeedsRefit(QSize fitted, QSize client) {
  if (fitted.isEmpty()) return false;
  if (fitted.width() > client.width() || fitted.height() > client.height()) return true;
  return fitted.width() < client.width() && fitted.height() < client.height();
}

QImage ImageFromFrame(const TFrameBuffer& frame) {
  if (!frame.pBuffer || frame.nWidth <= 0 || frame.nHeight <= 0) return {};
  const int bits = frame.nBitsPerPixel;
  const std::int64_t rowBytes = std::int64_t{frame.nWidth} * (bits / 8);
  if ((bits != 24 && bits != 32) || frame.nStride < rowBytes ||
      std::int64_t{frame.nStride} * frame.nHeight > frame.nSize)
    return {};
  const QImage view(frame.pBuffer, frame.nWidth, frame.nHeight, frame.nStride,
                    bits == 32 ? QImage::Format_RGB32 : QImage::Format_BGR888);
  return view.mirrored(false, true);  // bottom-up rows; mirrored() copies
}

CPreviewCtrl::CPreviewCtrl(QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::Box);
  setObjectName(QStringLiteral("preview"));
}

CPreviewCtrl::~CPreviewCtrl() = default;

void CPreviewCtrl::Refit() {
  m_fitted = QImage();
  const QRect area = contentsRect().translated(-contentsRect().topLeft());
  const QRect fit = FitPictureRect(m_source.size(), area);
  if (!fit.isEmpty()) m_fitted = m_source.scaled(fit.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  if (m_bNoVideoData && !m_fitted.isNull()) {
    QPainter p(&m_fitted);
    p.setPen(Qt::black);
    p.drawText(QPoint(5, 30), tr(kNoVideoData));
  }
}

bool CPreviewCtrl::SetImage(QImage image) {
  m_source = std::move(image);
  m_bNoVideoData = false;
  if (m_source.isNull()) {
    m_fitted = QImage();
    update();
    return false;
  }
  Refit();
  update();
  return true;
}

bool CPreviewCtrl::SetFrame(const TFrameBuffer& frame) { return SetImage(ImageFromFrame(frame)); }

void CPreviewCtrl::Clear() {
  ++m_generation;  // pictures still on their way belong to what was cleared
  m_source = QImage();
  m_fitted = QImage();
  m_bNoVideoData = false;
  update();
}

bool CPreviewCtrl::LoadBmpFile(const std::string& path, FileDialogEx::TStillInfo* info) {
  Clear();
  QImage image;
  if (!image.load(QString::fromStdString(path), "BMP")) return false;
  if (info) {
    // Bits per pixel and planes as the file's information header gives them.
    QFile file(QString::fromStdString(path));
    if (file.open(QIODevice::ReadOnly)) {
      const QByteArray head = file.read(30);
      if (head.size() == 30) {
        std::uint16_t planes = 0, bits = 0;
        std::memcpy(&planes, head.constData() + 26, 2);
        std::memcpy(&bits, head.constData() + 28, 2);
        info->bmpPlanes = planes;
        info->bmpBitsPerPixel = bits;
      }
    }
    info->width = image.width();
    info->height = image.height();
  }
  return SetImage(std::move(image));
}

bool CPreviewCtrl::LoadYuvFrame(const std::string& path, std::int32_t width, std::int32_t height,
                                std::int32_t yuvFormat) {
  Clear();
  const TPixelFormat layout = FileFormatToPixelFormat(yuvFormat);
  if (layout == TPixelFormat{0}) return false;
  TYuvFrameBuffer yuv;
  yuv.ePixelFormat = layout;
  yuv.nWidth = width;
  yuv.nHeight = height;
  yuv.nWidthAlignment = 2;
  yuv.nHeightAlignment = 2;
  if (!AllocYuvFrame(&yuv) || !yuv.pBuffer) {
    FreeYuvFrame(&yuv);
    return false;
  }
  // A file shorter than one frame shows what it has and zeros for the rest.
  std::memset(yuv.pBuffer, 0, static_cast<std::size_t>(yuv.nTotalSize));
  std::error_code ec;
  bool ok = std::filesystem::is_regular_file(path, ec) && ReadYuvFrameFile(path, &yuv);
  TFrameBuffer rgb;
  if (ok) {
    rgb.ePixelFormat = PF_RGB32;
    rgb.nWidth = width;
    rgb.nHeight = height;
    rgb.nRowAlignment = 4;
    rgb.nHeightAlignment = 1;
    ok = AllocFrameBuffer(&rgb) && ConvertYuvToRgb(yuv, rgb) && SetFrame(rgb);
  }
  FreeFrameBuffer(&rgb);
  FreeYuvFrame(&yuv);
  if (!ok) Clear();
  return ok;
}

bool CPreviewCtrl::LoadImage(const std::string& path, std::int32_t format, FileDialogEx::TStillInfo& info) {
  if (format == FF_BMP) return LoadBmpFile(path, &info);
  Clear();
  std::memset(info.info, 0, sizeof info.info);
  TFrameBuffer frame;
  TMediaRequest request;
  request.eOp = MEDIA_OP_READ;
  request.ePurpose = SRC_GRAB_FRAME;
  request.eSourceFormat = TFileFormat{format};
  request.ePixelFormat = PF_RGB32;
  request.pPath = &path;
  request.pFrameBuffer = &frame;
  request.pResults = info.info;
  static_assert(sizeof info.info == kMediaResultBlockSize);
  if (m_decoder) m_decoder(request);
  bool ok = false;
  if (request.bSuccess) {
    info.width = frame.nWidth;
    info.height = frame.nHeight;
    ok = SetFrame(frame);
  }
  FreeFrameBuffer(&frame);
  if (!ok) Clear();
  return ok;
}

bool CPreviewCtrl::LoadMedia(const std::string& path, std::int32_t format) {
  const bool accepted = format == 3 || format == 5 || format == 6 || (format >= 8 && format <= 15) ||
                        (format >= 19 && format <= 21);
  const TDecoder& run = m_mediaRunner ? m_mediaRunner : m_decoder;
  if (!accepted || !run) return false;
  // Each load replaces the pictures; one of another file must not stay up
  // when this source brings none.
  Clear();
  m_bFrameNoticed = false;
  Workers().Reap();

  auto load = std::make_shared<TMediaLoad>();
  load->path = path;
  load->target = this;
  TMediaRequest& request = load->request;
  request.eOp = MEDIA_OP_READ;
  request.ePurpose = SRC_GRAB_FRAME_RGB24;
  request.eSourceFormat = TFileFormat{format};
  request.ePixelFormat = PF_RGB32;
  request.pPath = &load->path;
  request.pFrameBuffer = &load->frame;
  if (format == FF_MNG) {
    // The MNG reader reports the stream header and one frame through the
    // callback, in the runner's thread.
    MngMgr::TMngParams& mng = load->mng;
    request.eTag = MEDIA_REQ_MNG;
    mng.nProcId = PreviewSenderId(format);
    mng.eSenderKind = MEDIA_SENDER_MNG;
    mng.ePurpose = SRC_GRAB_FRAME_RGB24;
    mng.pContext = load.get();
    mng.pStopFlag = &load->stop;
    mng.pEndFlag = &load->end;
    mng.pSeekRequest = &load->seek;
    mng.pSeekNumerator = &load->values[0];
    mng.pSeekDenominator = &load->values[1];
    mng.bFlag = false;
    mng.pCallback = &TMediaLoad::Callback;
    request.pParams = &mng;
  } else {
    TSourceParams& params = load->params;
    request.eTag = MEDIA_REQ_DSHOW_SOURCE;
    params.nSenderId = PreviewSenderId(format);
    params.eSenderKind = MEDIA_SENDER_DSHOW;
    params.ePurpose = SRC_GRAB_FRAME_RGB24;
    params.pContext = load.get();
    params.pStopFlag = &load->stop;
    params.pEndFlag = &load->end;
    params.pSeekFlag = &load->seek;
    params.pSoundFlag = &load->sound;
    params.pSeekNumerator = &load->values[0];
    params.pSeekDenominator = &load->values[1];
    params.pCallback = &TMediaLoad::Callback;
    params.eGrabPixelFormat = PF_RGB32;
    request.pParams = &params;
  }

  // The request runs on a thread of its own. The first frame either reaches
  // the callback (possibly on the media framework's streaming thread) or,
  // with a runner that grabs without a callback, the request's frame.
  std::thread worker;
  try {
    worker = std::thread([load, run] {
      run(load->request);
      std::lock_guard<std::mutex> lock(load->mutex);
      load->finished = true;
      load->done.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  bool finished = false;
  {
    std::unique_lock<std::mutex> lock(load->mutex);
    finished = load->done.wait_for(lock, std::chrono::milliseconds(kMediaPreviewBoundMs),
                                   [&] { return load->finished; });
    if (!finished) {
      // Given up: the source is asked to stop, and nothing it still brings
      // reaches this control.
      load->target = nullptr;
      load->stop = true;
      load->end = true;
    }
  }
  if (!finished) {
    Workers().Add(std::move(worker), load);
    ++m_generation;  // a picture already posted by this load is dropped too
    return false;
  }
  worker.join();

  if (load->hasInfo && m_infoSink) m_infoSink(load->infoKind, load->info);
  if (request.bSuccess && load->frame.pBuffer) {
    request.bSuccess = SetFrame(load->frame);
  } else if (request.bSuccess && !m_bFrameNoticed) {
    // A source without pictures (sound only): the white panel with its note.
    QImage white(300, 200, QImage::Format_RGB32);
    white.fill(Qt::white);
    SetImage(std::move(white));
    m_bNoVideoData = true;
    Refit();
  }
  return request.bSuccess;
}

int CPreviewCtrl::AbandonedMediaLoads() { return Workers().Running(); }

bool CPreviewCtrl::PreviewOwnerCallback(void* context, TMediaNotify code, const TMediaSender* sender,
                                        void* data) {
  auto* self = static_cast<CPreviewCtrl*>(context);
  return self ? self->OnMediaNotify(code, sender, data) : false;
}

bool CPreviewCtrl::OnMediaNotify(TMediaNotify code, const TMediaSender* sender, void* data) {
  if (code == MEDIA_NOTIFY_FRAME) {
    if (!sender) return false;
    const std::int32_t kind = sender->eSenderKind;
    if (kind != 14 && kind != 15 && kind != 16) return false;
    return OnFrameNotice(static_cast<const TMediaFrameNotice*>(data));
  }
  if (code == MEDIA_NOTIFY_STREAM_INFO) {
    // The MNG reader reports in the dialog's own thread.
    if (m_infoSink && sender && data) m_infoSink(sender->eSenderKind, static_cast<const std::int32_t*>(data));
    return false;
  }
  return false;
}

bool CPreviewCtrl::OnFrameNotice(const TMediaFrameNotice* notice) {
  QImage picture;
  bool empty = !notice || !notice->pHeader || !notice->pRgbData || notice->pHeader->biSizeImage == 0 ||
               notice->pHeader->biWidth <= 0 || notice->pHeader->biHeight == 0;
  if (!empty) {
    const Dib::TBitmapInfoHeader& h = *notice->pHeader;
    TFrameBuffer frame;
    frame.nWidth = h.biWidth;
    frame.nHeight = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    frame.nBitsPerPixel = h.biBitCount;
    frame.nStride = ((h.biWidth * h.biBitCount + 31) / 32) * 4;
    frame.nSize = static_cast<std::int32_t>(std::min<std::uint32_t>(
        h.biSizeImage, static_cast<std::uint32_t>(notice->nRgbSize > 0 ? notice->nRgbSize : h.biSizeImage)));
    frame.pBuffer = const_cast<std::uint8_t*>(notice->pRgbData);  // referenced, not copied, until the image
    picture = ImageFromFrame(frame);
    if (!picture.isNull() && h.biHeight < 0) picture = picture.mirrored(false, true);
    empty = picture.isNull();
  }
  if (empty) {
    picture = QImage(300, 200, QImage::Format_RGB32);
    picture.fill(Qt::white);
  }
  // The picture goes to the control's own thread; nothing here touches the widget.
  m_bFrameNoticed = true;
  QCoreApplication::postEvent(this, new TPictureEvent(std::move(picture), empty, m_generation.load()));
  return true;
}

bool CPreviewCtrl::event(QEvent* e) {
  if (e->type() == TPictureEvent::EventType()) {
    auto* pe = static_cast<TPictureEvent*>(e);
    if (pe->generation != m_generation.load()) return true;  // an earlier load's picture
    SetImage(std::move(pe->picture));
    m_bNoVideoData = pe->noVideoData;
    Refit();
    update();
    return true;
  }
  return QFrame::event(e);
}

void CPreviewCtrl::paintEvent(QPaintEvent* e) {
  QFrame::paintEvent(e);
  QPainter p(this);
  const QRect client = contentsRect();
  const QColor face = palette().color(QPalette::Button);
  int w = 0, h = 0;
  if (!m_fitted.isNull()) {
    p.drawImage(client.topLeft(), m_fitted);
    w = m_fitted.width();
    h = m_fitted.height();
  }
  const QRect right(client.left() + w, client.top(), client.width() - w, client.height());
  const QRect below(client.left(), client.top() + h, client.width(), client.height() - h);
  if (!right.isEmpty()) p.fillRect(right, face);
  if (!below.isEmpty() && below != right) p.fillRect(below, face);
}

void CPreviewCtrl::resizeEvent(QResizeEvent* e) {
  QFrame::resizeEvent(e);
  if (!m_source.isNull() && (m_fitted.isNull() || NeedsRefit(m_fitted.size(), contentsRect().size())))
    Refit();
}

}  // namespace PreviewCtrl
