// Opening files into a media document's channels: the "Open File To"
// command, the loaders of every file kind, and the decoding of one request
// with the decoder of its format.
//
// A loader decodes and checks everything before it touches the channel: the
// channel's picture, orientation and records change only once there is a
// picture to show, so a file that cannot be opened leaves the channel as it
// was.

#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "document/child_frame.h"
#include "document/command_ids.h"
#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document/zarn_view.h"
#include "io/codecs/gif_mgr.h"
#include "io/codecs/jpeg2000_mgr.h"
#include "io/codecs/jpeg_mgr.h"
#include "io/codecs/mng_mgr.h"
#include "io/codecs/png_mgr.h"
#include "io/codecs/tiff_mgr.h"
#if defined(TOVRIN_HAVE_MEDIA_GRAPH)
#include "io/dshow/dshow_mgr.h"
#endif
#include "media/color_conversion.h"
#include "media/yuv_frame.h"
#include "options/opts_exchange.h"
#include "options/opts_file_format.h"
#include "options/opts_page.h"
#include "options/zarn_options.h"
#include "platform/message_sink.h"
#include "platform/qt/app_messages.h"
#include "shell/application.h"
#include "shell/doc_manager.h"

namespace ZarnDoc {

namespace pq = platform::qt;
using namespace ZarnTypes;

namespace {

constexpr const char* kStopBeforeOpening = "Stop currently played stream(s) before opening a new stream.";

const char* const kOpenFilter =
    "Media files (*.oov *.mpeg *.mpg *.mp2 *.mp4 *.dv *.avi *.wmv *.asf *.flv *.swf *.mov *.mng *.yuv *.ifo "
    "*.bup *.vob *.mp3 *.wma *.wav *.bmp *.gif *.jpg *.jpeg *.jfif *.jp2 *.jpc *.png *.tif *.tiff);;"
    "All files (*)";

CZarnDoc::TOpenFilePrompt& OpenFilePrompt() {
  static CZarnDoc::TOpenFilePrompt prompt;
  return prompt;
}

// The wait cursor for the length of an open (only where there is a screen).
class TWaitCursor {
 public:
  TWaitCursor() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
      m_bSet = true;
    }
  }
  ~TWaitCursor() {
    if (m_bSet) QApplication::restoreOverrideCursor();
  }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;

 private:
  bool m_bSet = false;
};

// A frame record over 32-bit bottom-up rows held in `bytes`.
TFrameBuffer Rgb32Frame(std::vector<std::uint8_t>& bytes, int width, int height) {
  TFrameBuffer frame;
  frame.ePixelFormat = PF_RGB32;
  frame.nBitsPerPixel = 32;
  frame.nWidth = width;
  frame.nHeight = height;
  frame.nStride = width * 4;
  frame.nPaddedHeight = height;
  frame.nSize = width * height * 4;
  frame.nRowAlignment = 4;
  frame.nHeightAlignment = 1;
  frame.pBuffer = bytes.data();
  return frame;
}

// Position of the lowest set bit and the largest value of a colour mask.
void MaskShape(std::uint32_t mask, int& shift, std::uint32_t& max) {
  shift = 0;
  max = 0;
  if (mask == 0) return;
  while (((mask >> shift) & 1u) == 0) ++shift;
  max = mask >> shift;
}

std::uint8_t MaskedSample(std::uint32_t value, std::uint32_t mask, int shift, std::uint32_t max) {
  if (max == 0) return 0;
  const std::uint32_t v = (value & mask) >> shift;
  return static_cast<std::uint8_t>((v * 255u + max / 2) / max);
}

// The pixels of a section of any depth a .bmp file can hold, as 32-bit
// bottom-up rows (blue, green, red, 0). False for another depth or a section
// whose rows are missing.
bool SectionToRgb32(const Dib::TDibSection& section, std::vector<std::uint8_t>& out) {
  const int width = section.Width();
  const int height = section.Height();
  const int bits = section.BitCount();
  if (width <= 0 || height <= 0) return false;
  if (section.bits.size() < section.Stride() * static_cast<std::size_t>(height)) return false;
  out.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
  const bool bitFields = section.header.biCompression == 3;
  std::uint32_t masks[3] = {section.masks[0], section.masks[1], section.masks[2]};
  if (bits == 16 && (!bitFields || (masks[0] | masks[1] | masks[2]) == 0)) {
    masks[0] = Dib::kMask555Red;
    masks[1] = Dib::kMask555Green;
    masks[2] = Dib::kMask555Blue;
  }
  int shift[3] = {};
  std::uint32_t max[3] = {};
  for (int i = 0; i < 3; ++i) MaskShape(masks[i], shift[i], max[i]);
  const bool maskedWords = bits == 16 || (bits == 32 && bitFields && (masks[0] | masks[1] | masks[2]) != 0);

  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src = section.RowFromTop(y);
    std::uint8_t* dst =
        out.data() + static_cast<std::size_t>(height - 1 - y) * static_cast<std::size_t>(width) * 4;
    for (int x = 0; x < width; ++x, dst += 4) {
      std::uint8_t b = 0, g = 0, r = 0;
      if (bits <= 8) {
        if (bits != 1 && bits != 4 && bits != 8) return false;
        const int perByte = 8 / bits;
        const std::uint8_t byte = src[x / perByte];
        const int shiftBits = (perByte - 1 - x % perByte) * bits;
        const std::size_t index = (byte >> shiftBits) & ((1u << bits) - 1u);
        if (index < section.colorTable.size()) {
          b = section.colorTable[index].rgbBlue;
          g = section.colorTable[index].rgbGreen;
          r = section.colorTable[index].rgbRed;
        }
      } else if (maskedWords) {
        std::uint32_t v = 0;
        if (bits == 16) {
          v = static_cast<std::uint32_t>(src[2 * x]) | (static_cast<std::uint32_t>(src[2 * x + 1]) << 8);
        } else {
          std::memcpy(&v, src + 4 * x, 4);
        }
        r = MaskedSample(v, masks[0], shift[0], max[0]);
        g = MaskedSample(v, masks[1], shift[1], max[1]);
        b = MaskedSample(v, masks[2], shift[2], max[2]);
      } else if (bits == 24 || bits == 32) {
        const std::uint8_t* p = src + static_cast<std::size_t>(x) * (bits / 8);
        b = p[0];
        g = p[1];
        r = p[2];
      } else if (bits == 48) {
        // Three 16-bit samples, blue first; the high byte of each.
        const std::uint8_t* p = src + static_cast<std::size_t>(x) * 6;
        b = p[1];
        g = p[3];
        r = p[5];
      } else {
        return false;
      }
      dst[0] = b;
      dst[1] = g;
      dst[2] = r;
    }
  }
  return true;
}

// The frame pixel format of a .bmp file's depth (0 for a depth the loader
// does not take).
TPixelFormat BmpFramePixelFormat(int bits) {
  switch (bits) {
    case 1: return TPixelFormat{22};
    case 4: return TPixelFormat{24};
    case 8: return TPixelFormat{25};
    case 16: return TPixelFormat{26};
    case 24: return TPixelFormat{27};
    case 32: return TPixelFormat{28};
    case 48: return TPixelFormat{29};
    default: return TPixelFormat{0};
  }
}

// Sizes of a raw YUV file's planes as they lie in the file: the luma plane
// width x height, each chroma plane its columns x rows (halves rounded up).
struct TPackedPlanes {
  std::int64_t lumaColumns = 0, lumaRows = 0;
  std::int64_t chromaColumns = 0, chromaRows = 0;
};

TPackedPlanes PackedPlanes(std::int32_t width, std::int32_t height, std::int32_t divisor) {
  TPackedPlanes p;
  p.lumaColumns = width;
  p.lumaRows = height;
  p.chromaColumns = divisor == 1 ? width : (width + 1) / 2;
  p.chromaRows = divisor == 4 ? (height + 1) / 2 : height;
  return p;
}

// Bytes one frame of a raw YUV layout takes in a file (0 for a code that is
// not one of the planar layouts or a size that is not positive).
std::int64_t YuvFileFrameBytes(std::int32_t format, std::int32_t width, std::int32_t height) {
  if (!IsYuvFileFormat(format) || width <= 0 || height <= 0) return 0;
  const std::int32_t divisor = GetYuvChromaDivisor(FileFormatToPixelFormat(format));
  if (divisor == 0) return 0;
  const TPackedPlanes p = PackedPlanes(width, height, divisor);
  return p.lumaColumns * p.lumaRows + 2 * p.chromaColumns * p.chromaRows;
}

// The name the YUV page lists a layout by, without the extension.
std::string YuvLayoutName(std::int32_t format) {
  for (const OptsFileFormat::TYuvLayoutRow& row : OptsFileFormat::YuvLayoutTable()) {
    if (row.code != format) continue;
    std::string name = row.text;
    if (const std::size_t cut = name.find(" (."); cut != std::string::npos) name.resize(cut);
    return name;
  }
  return "layout " + std::to_string(format);
}

// Why a raw YUV file does not hold whole frames of a layout: its size, the
// frames and the bytes over, and the layout.
std::string YuvSizeProblem(std::int64_t fileBytes, std::int32_t format, std::int32_t width,
                           std::int32_t height) {
  const std::int64_t frameBytes = YuvFileFrameBytes(format, width, height);
  char text[512];
  if (frameBytes <= 0) {
    std::snprintf(text, sizeof text, "%d x %d is no picture size of %s.", width, height,
                  YuvLayoutName(format).c_str());
    return text;
  }
  std::snprintf(text, sizeof text,
                "Its %lld bytes are not a whole number of %d x %d frames of %s (%lld bytes a frame): they "
                "hold %lld whole frames and %lld bytes more.",
                static_cast<long long>(fileBytes), width, height, YuvLayoutName(format).c_str(),
                static_cast<long long>(frameBytes), static_cast<long long>(fileBytes / frameBytes),
                static_cast<long long>(fileBytes % frameBytes));
  return text;
}

// The path whose refusal was already explained to the user, so that the
// caller's "Can not open file" does not follow it.
std::string& ExplainedRefusal() {
  static std::string path;
  return path;
}

// What the readers said about the last file that could not be opened: the
// caller's "Can not open file" carries it, so a file is reported once.
struct TOpenFailure {
  std::string path;
  std::string reason;
};
TOpenFailure& LastOpenFailure() {
  static TOpenFailure failure;
  return failure;
}

// Takes the message boxes a reader shows on the thread that opens a file
// while the open runs; boxes of other threads go where they went before.
// One object for the whole run: a worker that took it as the sink just
// before an open ended still reaches a live object.
class TReaderMessages final : public platform::IMessageSink {
 public:
  static TReaderMessages& Instance() {
    static auto* instance = new TReaderMessages;  // never destroyed (see above)
    return *instance;
  }

  // Starts taking the boxes of this thread; returns where this open's
  // boxes begin (opens may nest through a modal loop).
  std::size_t Begin() {
    std::lock_guard lock(m_Mutex);
    if (m_nDepth++ == 0) {
      m_Owner = std::this_thread::get_id();
      m_pPrevious = platform::SetMessageSink(this);
    }
    return m_Boxes.size();
  }

  // The boxes taken since `first`; the last open gives the sink back.
  std::vector<platform::TMessageBox> End(std::size_t first) {
    std::lock_guard lock(m_Mutex);
    std::vector<platform::TMessageBox> boxes;
    if (first < m_Boxes.size()) {
      boxes.assign(m_Boxes.begin() + static_cast<std::ptrdiff_t>(first), m_Boxes.end());
      m_Boxes.resize(first);
    }
    if (m_nDepth > 0 && --m_nDepth == 0) platform::SetMessageSink(m_pPrevious);
    return boxes;
  }

  int Show(const platform::TMessageBox& box) override {
    platform::IMessageSink* previous = nullptr;
    {
      std::lock_guard lock(m_Mutex);
      if (m_nDepth > 0 && std::this_thread::get_id() == m_Owner) {
        m_Boxes.push_back(box);
        return platform::DefaultButton(box.style);
      }
      previous = m_pPrevious;
    }
    if (previous) return previous->Show(box);
    std::fprintf(stderr, "%s%s%s\n", box.caption.c_str(), box.caption.empty() ? "" : ": ", box.text.c_str());
    return platform::DefaultButton(box.style);
  }

 private:
  TReaderMessages() = default;
  std::mutex m_Mutex;
  int m_nDepth = 0;
  std::thread::id m_Owner;
  platform::IMessageSink* m_pPrevious = nullptr;
  std::vector<platform::TMessageBox> m_Boxes;
};

// The readers' boxes of one loader call. An open that succeeds shows them
// as they were (warnings about a file that still opened); a failed one keeps
// them as the reason its caller reports with "Can not open file".
class TLoaderMessages {
 public:
  TLoaderMessages() : m_nFirst(TReaderMessages::Instance().Begin()) {}
  ~TLoaderMessages() {
    if (!m_bDone) TReaderMessages::Instance().End(m_nFirst);
  }
  TLoaderMessages(const TLoaderMessages&) = delete;
  TLoaderMessages& operator=(const TLoaderMessages&) = delete;

  void Finish(bool opened, const std::string& path) {
    m_bDone = true;
    const std::vector<platform::TMessageBox> boxes = TReaderMessages::Instance().End(m_nFirst);
    if (opened) {
      for (const platform::TMessageBox& box : boxes) platform::ShowMessage(box.text, box.caption, box.style);
      return;
    }
    std::string reason;
    for (const platform::TMessageBox& box : boxes) {
      std::string text = box.text;
      while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
      // A reader's own "cannot open" of the path says nothing the message
      // does not say already.
      const bool restated = text == "Can't open " + path || text == "Can not open file " + path ||
                            text == "Can not open file\n " + path;
      if (text.empty() || restated || reason.find(text) != std::string::npos) continue;
      if (!reason.empty()) reason += '\n';
      reason += text;
    }
    LastOpenFailure() = {path, reason};
  }

 private:
  std::size_t m_nFirst;
  bool m_bDone = false;
};

// The owner of the YUV page while an open asks for a file's layout: it
// hands the page the layout tried and takes the one the user chose.
class TYuvLayoutOwner : public QObject {
 public:
  explicit TYuvLayoutOwner(TOpenSourceArgs& args) : m_Args(args) {
    auto* messages = new pq::TMessageMap(this);
    messages->On(pq::WM_APP_OPTS_YUV, [this](pq::WPARAM, pq::LPARAM lParam) -> pq::LRESULT {
      auto* block = ZarnTypes::OptsBlockOf<ZarnTypes::TYuvFormatExchange>(lParam);
      if (!block) return 0;
      if (block->header.op == OPTS_XCHG_READ) {
        block->format = m_Args.format;
        block->width = m_Args.width;
        block->height = m_Args.height;
        block->singleImage = m_Args.sequence ? 1 : 0;
        block->sizeEditable = 1;
        block->checkSize = 1;
      } else if (block->header.op == OPTS_XCHG_WRITE) {
        if (IsYuvFileFormat(block->format)) m_Args.format = block->format;
        m_Args.width = block->width;
        m_Args.height = block->height;
        m_Args.sequence = block->singleImage != 0;
        m_bTaken = true;
      } else {
        return 0;
      }
      block->header.answered = 1;
      return 1;
    });
  }
  bool Taken() const { return m_bTaken; }

 private:
  TOpenSourceArgs& m_Args;
  bool m_bTaken = false;
};

// A raw YUV file is shown only as whole frames of its layout. When the file
// is not a whole number of frames of the layout in `args` (or shorter than
// one), the YUV page asks for the layout, again until one fits or the user
// cancels; `args` then holds the layout chosen. On Cancel, or where no page
// can be shown, the open is refused with a message naming the file, the
// layout and why. False for a file that cannot be measured or is empty
// (the caller reports those).
bool YuvLayoutFitsFile(TOpenSourceArgs& args, QWidget* parent) {
  std::error_code ec;
  const std::filesystem::path file = std::filesystem::path(args.path);
  if (!std::filesystem::is_regular_file(file, ec)) return false;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || size == 0) return false;
  const auto fileBytes = static_cast<std::int64_t>(size);
  auto fits = [&] {
    const std::int64_t frameBytes = YuvFileFrameBytes(args.format, args.width, args.height);
    return frameBytes > 0 && fileBytes % frameBytes == 0;
  };
  const bool canAsk = qobject_cast<QApplication*>(QCoreApplication::instance()) &&
                      OptsPage::HasOptionsPage(OptsPage::PAGE_YUV);
  while (!fits()) {
    const std::string problem = YuvSizeProblem(fileBytes, args.format, args.width, args.height);
    bool chosen = false;
    if (canAsk) {
      TYuvLayoutOwner owner(args);
      ZarnOptions::CZarnOptions sheet(
          QStringLiteral("YUV layout of %1").arg(QString::fromStdString(file.filename().string())), &owner,
          OPTCAT_YUV, parent);
      sheet.setObjectName(QStringLiteral("YuvLayoutPrompt"));
      if (auto* column = qobject_cast<QVBoxLayout*>(sheet.layout())) {
        auto* why =
            new QLabel(QString::fromStdString(problem + " Choose the picture size and layout the file "
                                                        "was written with."),
                       &sheet);
        why->setObjectName(QStringLiteral("reason"));
        why->setWordWrap(true);
        column->insertWidget(0, why);
      }
      QApplication::restoreOverrideCursor();  // the wait cursor of the open does not stand over the page
      chosen = sheet.DoModal() == 1 && owner.Taken();
      QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    if (!chosen) {
      std::string text = "Can not open file\n " + args.path + "\n" + problem;
      text += canAsk ? " No layout was chosen." : " Open it with the layout it was written with.";
      platform::ShowMessage(text);
      ExplainedRefusal() = args.path;
      return false;
    }
  }
  return true;
}

// Reads up to `rows` rows of `columns` bytes into rows `stride` apart;
// returns the bytes read. Rows past the end of the file stay as they are.
std::int64_t ReadRows(std::FILE* file, std::uint8_t* dst, std::int64_t columns, std::int64_t rows,
                      std::int64_t stride) {
  std::int64_t total = 0;
  for (std::int64_t r = 0; r < rows; ++r) {
    const std::size_t got = std::fread(dst + r * stride, 1, static_cast<std::size_t>(columns), file);
    total += static_cast<std::int64_t>(got);
    if (got < static_cast<std::size_t>(columns)) break;
  }
  return total;
}

// Reads the first frame of a raw planar YUV file (planes one after the other,
// rows without padding) into an allocated frame. A file shorter than a frame
// gives what it has; the rest stays 0. False when the file cannot be read or
// holds nothing.
bool ReadPackedYuvFrame(const std::string& path, TYuvFrameBuffer& frame) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  std::memset(frame.pBuffer, 0, static_cast<std::size_t>(frame.nTotalSize));
  const TPackedPlanes p = PackedPlanes(frame.nWidth, frame.nHeight, frame.nChromaDivisor);
  const std::int64_t chromaStride = frame.nChromaDivisor == 1 ? frame.nAlignedWidth : frame.nAlignedWidth / 2;
  const std::int64_t lumaBytes = p.lumaColumns * p.lumaRows;
  const std::int64_t chromaBytes = p.chromaColumns * p.chromaRows;
  std::int64_t got = ReadRows(file, frame.pBuffer, p.lumaColumns, p.lumaRows, frame.nAlignedWidth);
  if (got == lumaBytes) got += ReadRows(file, frame.pCb, p.chromaColumns, p.chromaRows, chromaStride);
  if (got == lumaBytes + chromaBytes)
    got += ReadRows(file, frame.pCr, p.chromaColumns, p.chromaRows, chromaStride);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return !failed && got > 0;
}

// Copies a frame that another object owns into `target`, whose buffer is
// reused when its size fits. False when the copy cannot be made.
bool CopyHeldFrame(const TFrameBuffer& held, TFrameBuffer& target) {
  if (!held.pBuffer || held.nStride <= 0 || held.nHeight <= 0) return false;
  target.ePixelFormat = held.ePixelFormat;
  target.nWidth = held.nWidth;
  target.nHeight = held.nHeight;
  target.nRowAlignment = held.nRowAlignment > 0 ? held.nRowAlignment : 4;
  target.nHeightAlignment = 1;
  if (!AllocFrameBuffer(&target) || target.nStride != held.nStride) return false;
  std::memcpy(target.pBuffer, held.pBuffer,
              static_cast<std::size_t>(held.nStride) * static_cast<std::size_t>(held.nHeight));
  target.nBitsPerPixel = held.nBitsPerPixel;
  return true;
}

// Writes a line of text in white at (5, 10) into a 32-bit section.
void DrawPlaceholderText(Dib::TDibSection& section, const char* text) {
  const int width = section.Width();
  const int height = section.Height();
  if (section.BitCount() != 32 || width <= 0 || height <= 0) return;
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::black);
  {
    QPainter painter(&image);
    painter.setPen(Qt::white);
    const QFontMetrics metrics(painter.font());
    painter.drawText(5, 10 + metrics.ascent(), QString::fromLatin1(text));
  }
  for (int y = 0; y < height; ++y) {
    const auto* src = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
    std::uint8_t* dst = section.RowFromTop(y);
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = src[x] & 0x00FFFFFFu;
      std::memcpy(dst + 4 * x, &c, 4);
    }
  }
}

// Runs a command of the main window's menus once the current one is done.
void PostMainWindowCommand(UINT id) {
  QWidget* main = shell::MainWindow();
  if (!main) return;
  QPointer<QWidget> target(main);
  QTimer::singleShot(0, main, [target, id] {
    if (!target) return;
    if (auto* router = target->findChild<pq::TCommandRouter*>()) router->Execute(id);
  });
}

bool StartPlayingOnOpen(const TMediaSource& source) {
  shell::IApplication* app = shell::TheApplication();
  if (!app || app->ShellState().startPlaying[0] == 0) return false;
  return source.eStreamType >= 3 && source.eStreamType <= 21;
}

}  // namespace

void CZarnDoc::SetOpenFilePrompt(TOpenFilePrompt prompt) { OpenFilePrompt() = std::move(prompt); }

void CZarnDoc::ShowOpenFailure(const std::string& path) {
  // An open that explained its refusal is not reported a second time.
  if (!ExplainedRefusal().empty() && ExplainedRefusal() == path) {
    ExplainedRefusal().clear();
    return;
  }
  std::vector<char> text(path.size() + 32);
  std::snprintf(text.data(), text.size(), "Can not open file\n %s", path.c_str());
  std::string message = text.data();
  // What the file's reader found wrong with it, in the same box.
  TOpenFailure& failure = LastOpenFailure();
  if (failure.path == path && !failure.reason.empty()) message += "\n" + failure.reason;
  failure = {};
  platform::ShowMessage(message);
}

int CZarnDoc::CountOpenChannels() {
  int count = 0;
  for (const TMediaSource& source : m_Source)
    if (source.bOpen) ++count;
  m_nOpenCount = count;
  return count;
}

void CZarnDoc::RegisterOpenCommands() {
  m_Commands.OnCommand(shell::ID_FILE_OPEN_TO, [this] { OnFileOpenTo(); });
  m_Commands.OnUpdate(shell::ID_FILE_OPEN_TO, [](pq::TCmdUI& ui) { ui.Enable(true); });
}

// ---------------------------------------------------------------------------
// Commands and entry points

void CZarnDoc::OnFileOpenTo() {
  // The program's prompt: destination document, channel, format and the
  // raw-YUV layout are the user's choice.
  if (DocManagerEx::CDocManagerEx* manager = DocManagerEx::TheDocManager(); manager && !OpenFilePrompt()) {
    OpenFileToThroughManager(*manager);
    return;
  }
  if (m_Engine.IsRunning()) {
    platform::ShowMessage(kStopBeforeOpening);
    return;
  }
  int channel = 0;
  for (int ch = 0; ch < kChannelCount; ++ch)
    if (!m_Source[ch].bOpen) {
      channel = ch;
      break;
    }
  QWidget* parent = m_pChildFrame ? static_cast<QWidget*>(m_pChildFrame.data()) : shell::MainWindow();
  std::string path;
  if (OpenFilePrompt()) {
    path = OpenFilePrompt()(parent);
  } else {
    path = QFileDialog::getOpenFileName(parent, QObject::tr("Open File To"), QString(), kOpenFilter)
               .toStdString();
  }
  if (path.empty()) return;
  if (!OpenSource(path, channel)) {
    ShowOpenFailure(path);
    return;
  }
  NotifyExplorer(pq::FRAME_REQ_EXPLORER_UPDATE_DOC);
  NotifyTabGroups();
  if (shell::IApplication* app = shell::TheApplication()) app->AddToRecentFileList(path);
  NotifyOpenButton(static_cast<std::int32_t>(shell::ID_FILE_OPEN));
  if (StartPlayingOnOpen(m_Source[channel])) PostMainWindowCommand(shell::ID_NAVIGATE_START_PAUSE);
}

void CZarnDoc::OpenFileToThroughManager(DocManagerEx::CDocManagerEx& manager) {
  const bool playing = m_Engine.IsRunning();
  ZarnTypes::TFileDialogSettings& s = manager.Settings();
  s.extended = true;
  s.mode = ZarnTypes::FDM_OPEN_TO;
  s.filterCode = m_YuvOpen.nMode;
  s.yuvFormat = m_YuvOpen.nFormat;
  s.yuvSingleImage = m_YuvOpen.bSingleImage ? 1 : 0;
  s.yuvWidth = m_YuvOpen.nWidth;
  s.yuvHeight = m_YuvOpen.nHeight;
  s.newDocAllowed = true;
  s.activeDocAllowed = !playing;
  s.destination = playing ? 0 : 1;
  s.channelAllowed = {true, m_Source[0].bOpen != 0, m_Source[0].bOpen != 0, m_Source[0].bOpen != 0};
  s.channel = 0;
  manager.SetParentWidget(m_pChildFrame ? static_cast<QWidget*>(m_pChildFrame.data()) : shell::MainWindow());
  std::string path;
  const bool ok = manager.DoPromptFileName(path, DocManagerEx::AFX_IDS_OPENFILE,
                                           DocManagerEx::OFN_HIDEREADONLY | DocManagerEx::OFN_FILEMUSTEXIST,
                                           true, nullptr);
  if (ok && s.destination == 0) {
    // The new document reads the channel and the format answers from the
    // record; this document's settings stay as they were. Its own open
    // updates its explorer entry and the tab groups; the toolbar's Open
    // button shows the command as after an open into this document. A new
    // document whose file cannot be opened is reported by its open and goes
    // again with its window: no empty window is left that nobody asked for.
    if (manager.OpenDocumentFile(path)) {
      NotifyTabGroups();
      NotifyOpenButton(static_cast<std::int32_t>(shell::ID_FILE_OPEN));
    }
  }
  s.extended = false;
  if (!ok || s.destination == 0) return;
  if (m_Engine.IsRunning()) {
    platform::ShowMessage(kStopBeforeOpening);
    return;
  }
  const int channel = std::clamp(s.channel, 0, kChannelCount - 1);
  const ZarnTypes::TYuvOpenSettings previous = m_YuvOpen;
  m_YuvOpen = {s.filterCode, s.yuvFormat, s.yuvSingleImage != 0, s.yuvWidth, s.yuvHeight};
  if (!OpenSource(path, channel)) {
    m_YuvOpen = previous;
    ShowOpenFailure(path);
    return;
  }
  NotifyExplorer(pq::FRAME_REQ_EXPLORER_UPDATE_DOC);
  NotifyTabGroups();
  if (shell::IApplication* app = shell::TheApplication()) app->AddToRecentFileList(path);
  NotifyOpenButton(static_cast<std::int32_t>(shell::ID_FILE_OPEN));
  if (StartPlayingOnOpen(m_Source[channel])) PostMainWindowCommand(shell::ID_NAVIGATE_START_PAUSE);
}

bool CZarnDoc::OnOpenDocument(const std::string& path) {
  // Opened from a prompt of the document manager: its channel and raw-YUV answers.
  int channel = 0;
  if (const DocManagerEx::CDocManagerEx* manager = DocManagerEx::TheDocManager();
      manager && manager->Settings().extended) {
    const ZarnTypes::TFileDialogSettings& s = manager->Settings();
    channel = std::clamp(s.channel, 0, kChannelCount - 1);
    if (s.mode == ZarnTypes::FDM_OPEN_TO) {
      // "Open File To" into a new document: the layout edited in the prompt
      // is this document's from now on.
      if (IsYuvFileFormat(s.yuvFormat) && s.yuvWidth > 0 && s.yuvHeight > 0)
        m_YuvOpen = {s.filterCode, s.yuvFormat, s.yuvSingleImage != 0, s.yuvWidth, s.yuvHeight};
    } else if (ZarnTypes::IsYuvFileFormat(s.format)) {
      m_YuvOpen = {s.filterCode, s.format, s.singleImage != 0, s.width, s.height};
    }
  }
  if (!OpenSource(path, channel)) {
    ShowOpenFailure(path);
    return false;
  }
  // The document was announced when it was set up: now it has a source.
  NotifyExplorer(pq::FRAME_REQ_EXPLORER_UPDATE_DOC);
  NotifyTabGroups();
  // The file's name would be the title: the composed one is shown instead.
  m_bTitlePending = true;
  SetTitle(std::filesystem::path(path).filename().string());
  if (StartPlayingOnOpen(m_Source[channel])) PostMainWindowCommand(shell::ID_NAVIGATE_START_PAUSE);
  return true;
}

bool CZarnDoc::OpenInChannel(const std::string& path, int channel) {
  if (OpenSource(path, channel)) return true;
  ShowOpenFailure(path);
  return false;
}

bool CZarnDoc::OpenSource(const std::string& path, int channel) {
  TOpenSourceArgs args;
  args.path = path;
  args.channel = channel;
  if (!OpenSourceInChannel(args)) return false;
  if (m_pChildFrame)
    pq::SendAppMessage(m_pChildFrame.data(), pq::WM_APP_PANE_COMMAND, PANE_CMD_SHOW_CHANNEL,
                       static_cast<pq::LPARAM>(channel));
  if (m_pControllerView) pq::SendAppMessage(m_pControllerView.data(), pq::WM_APP_CONTROLLER_UPDATE, 3, 0);
  return true;
}

bool CZarnDoc::OpenSourceInChannel(const TOpenSourceArgs& given) {
  ExplainedRefusal().clear();
  LastOpenFailure() = {};
  if (given.channel < 0 || given.channel >= kChannelCount) return false;
  // Nothing is opened into a document while it plays.
  if (m_Engine.IsRunning()) return false;
  const std::int32_t extCode = GetFileExtCode(std::filesystem::path(given.path).extension().string());
  if (extCode == FEXT_NONE) return false;

  TOpenSourceArgs args = given;
  bool rememberedLayout = false;
  if (args.format == 0) {
    args.format = FileExtCodeToFileFormat(extCode);
    if (args.format == FF_YUV_RAW) {
      rememberedLayout = true;
      args.format = m_YuvOpen.nFormat;
      args.width = m_YuvOpen.nWidth;
      args.height = m_YuvOpen.nHeight;
      args.sequence = m_YuvOpen.bSingleImage;
    }
  }

  TWaitCursor wait;
  if (extCode == FEXT_YUV) {
    // A layout that does not describe the file is not shown as if it did.
    // (Its prompt is no reader message: it is shown as it comes.)
    QWidget* parent = m_pChildFrame ? static_cast<QWidget*>(m_pChildFrame.data()) : shell::MainWindow();
    const bool described = IsYuvFileFormat(args.format) && args.width > 0 && args.height > 0;
    if (described && !YuvLayoutFitsFile(args, parent)) return false;
  }
  bool opened = false;
  TLoaderMessages messages;
  switch (extCode) {
    case FEXT_OOV:
    case FEXT_MPEG:
    case FEXT_MPG:
    case FEXT_MP2:
    case FEXT_MP4:
    case FEXT_DV:
    case FEXT_AVI:
    case FEXT_WMV:
    case FEXT_ASF:
    case FEXT_FLV:
    case FEXT_SWF:
    case FEXT_MOV:
    case FEXT_MP3:
    case FEXT_WMA:
    case FEXT_WAV: opened = LoadDShowSource(args, TDShowOpenOptions{}); break;
    case FEXT_MNG: opened = LoadMngSource(args, false); break;
    case FEXT_YUV: opened = LoadYuvSource(args); break;
    case FEXT_IFO:
    case FEXT_BUP:
    case FEXT_VOB: opened = OpenDvdSource(args.path, extCode, args.channel); break;
    case FEXT_BMP: opened = LoadBmpSource(args); break;
    case FEXT_GIF: opened = LoadGifSource(args); break;
    case FEXT_JPG:
    case FEXT_JPEG:
    case FEXT_JFIF: opened = LoadJpegSource(args); break;
    case FEXT_JP2:
    case FEXT_JPC: opened = LoadJpeg2000Source(args); break;
    case FEXT_PNG: opened = LoadPngSource(args); break;
    case FEXT_TIF:
    case FEXT_TIFF: opened = LoadTiffSource(args); break;
    default: opened = false; break;  // .264 .dib .ico .pgm .j2c
  }
  messages.Finish(opened, args.path);
  // The layout a file was opened with is the one the next file starts from.
  if (opened && extCode == FEXT_YUV && rememberedLayout)
    m_YuvOpen = {m_YuvOpen.nMode, args.format, args.sequence, args.width, args.height};
  if (!opened) return false;
  CountOpenChannels();
  SetSourceDisplayName(args.path, args.channel);
  // The channel shows the first frame of what it opened: its counter, time
  // and position start there (a session counts from there too).
  m_Engine.m_Channel[args.channel].nShownFrame.store(0);
  if (m_pControllerView) m_pControllerView->ForgetChannelPlace(args.channel);
  return true;
}

// ---------------------------------------------------------------------------
// Shared steps of the loaders

bool CZarnDoc::PutFrameInPort(int channel, TFrameBuffer& frame) {
  VideoPort::CVideoPort& port = m_VideoPortHub.Port(channel);
  const std::int32_t previousOrientation = port.Orientation();
  // A newly opened source is shown upright.
  TVideoPortUpdate reset;
  reset.nCommand = VPU_RESET;
  reset.nPortIndex = channel;
  reset.bResetOrientation = 1;
  if (!m_VideoPortHub.UpdatePort(reset)) return false;
  TVideoPortUpdate copy;
  copy.nCommand = VPU_COPY_FRAME;
  copy.nPortIndex = channel;
  copy.pSourceFrame = &frame;
  copy.bSwap = 1;
  if (!m_VideoPortHub.UpdatePort(copy)) {
    // The picture on show did not change: neither does its orientation.
    TVideoPortUpdate restore;
    restore.nCommand = VPU_ORIENT;
    restore.nPortIndex = channel;
    restore.nOrientation = previousOrientation;
    restore.bAbsolute = 1;
    restore.bStoreOnly = 1;
    m_VideoPortHub.UpdatePort(restore);
    return false;
  }
  RefreshChannelPanes(channel, copy.bSizeChanged != 0);
  return true;
}

void CZarnDoc::FillOpenedSource(const TOpenSourceArgs& args, TStreamType type, std::int32_t width,
                                std::int32_t height, TPixelFormat framePixelFormat, bool read, bool picture) {
  TMediaSource& source = m_Source[args.channel];
  source.Reset();
  source.bOpen = TRUE_;
  source.eState = SOURCE_STATE_LOADED;
  source.bLoaded = TRUE_;
  source.eStreamType = type;
  source.eSourceCategory = SOURCE_CAT_FILE;
  source.eFileFormat = TFileFormat{args.format};
  source.sPath = args.path;
  source.nWidth = width;
  source.nHeight = height;
  source.bRead = read ? TRUE_ : FALSE_;
  source.eFramePixelFormat = framePixelFormat;
  source.nPictureCount = picture ? 1 : 0;
  m_bHasPicture[args.channel] = picture;
  // The channel's reader plays what was opened, from its first frame on.
  ReadStream::TReaderSource description;
  description.bSequence = read;
  description.sPath = args.path;
  description.eStreamType = type;
  description.nSourceCategory = SOURCE_CAT_FILE;
  description.eFileFormat = TFileFormat{args.format};
  description.ePixelFormat = framePixelFormat;
  description.nWidth = width;
  description.nHeight = height;
  ReadStream::CReadStream& reader = m_pEngineLink->Reader(args.channel);
  reader.SetDescription(description);
  reader.SetFrameRange(0, 0);
}

bool CZarnDoc::StillThroughDecoder(const TOpenSourceArgs& args, TStreamType type,
                                   TPixelFormat framePixelFormat) {
  TFrameBuffer frame;
  std::int32_t results[kMediaResultBlockSize / 4] = {};
  TMediaRequest request;
  request.eOp = MEDIA_OP_READ;
  request.ePurpose = SRC_GRAB_FRAME;
  request.eSourceFormat = TFileFormat{args.format};
  request.ePixelFormat = PF_RGB32;
  request.pPath = &args.path;
  request.pFrameBuffer = &frame;
  request.pResults = results;
  DecodeMediaRequest(request);
  const bool ok = request.bSuccess && frame.pBuffer && PutFrameInPort(args.channel, frame);
  const std::int32_t width = frame.nWidth;
  const std::int32_t height = frame.nHeight;
  FreeFrameBuffer(&frame);
  if (!ok) return false;
  FillOpenedSource(args, type, width, height, framePixelFormat, true, true);
  m_Format[args.channel].Reset();
  m_Format[args.channel].SetParams(type, results, sizeof results, 0);
  return true;
}

// ---------------------------------------------------------------------------
// Loaders

bool CZarnDoc::LoadJpegSource(const TOpenSourceArgs& args) {
  return StillThroughDecoder(args, ST_JPEG, PF_RGB24);
}

bool CZarnDoc::LoadJpeg2000Source(const TOpenSourceArgs& args) {
  return StillThroughDecoder(args, ST_JPEG2000, PF_RGB32);
}

bool CZarnDoc::LoadPngSource(const TOpenSourceArgs& args) {
  return StillThroughDecoder(args, ST_PNG, PF_RGB32);
}

bool CZarnDoc::LoadGifSource(const TOpenSourceArgs& args) {
  return StillThroughDecoder(args, ST_GIF, PF_RGB32);
}

bool CZarnDoc::LoadTiffSource(const TOpenSourceArgs& args) {
  return StillThroughDecoder(args, ST_TIFF, PF_RGB32);
}

bool CZarnDoc::LoadBmpSource(const TOpenSourceArgs& args) {
  // The picture is read into a section of the loader's own and copied into
  // the port: nothing of it is kept where the document frees it.
  Dib::TDibSection section;
  std::string error;
  if (!Dib::ReadBmpFile(args.path, section, &error)) return false;
  const TPixelFormat framePixelFormat = BmpFramePixelFormat(section.BitCount());
  if (framePixelFormat == 0) return false;
  const int depth = m_VideoPortHub.Port(args.channel).Depth();
  if (depth != 24 && depth != 32) return false;
  std::vector<std::uint8_t> pixels;
  if (!SectionToRgb32(section, pixels)) return false;
  TFrameBuffer frame = Rgb32Frame(pixels, section.Width(), section.Height());
  if (!PutFrameInPort(args.channel, frame)) return false;
  FillOpenedSource(args, ST_BMP, section.Width(), section.Height(), framePixelFormat, true, true);
  std::int32_t info[kMediaResultBlockSize / 4] = {
      section.Width(), section.Height(), static_cast<std::int32_t>(section.Stride()), 1, section.BitCount()};
  m_Format[args.channel].Reset();
  m_Format[args.channel].SetParams(ST_BMP, info, sizeof info, 0);
  return true;
}

bool CZarnDoc::LoadYuvSource(const TOpenSourceArgs& args) {
  // Only the planar layouts describe a raw YUV file.
  if (!IsYuvFileFormat(args.format)) return false;
  const TPixelFormat pixelFormat = FileFormatToPixelFormat(args.format);
  if (pixelFormat == 0 || args.width <= 0 || args.height <= 0) return false;
  TYuvFrameBuffer yuv;
  yuv.ePixelFormat = pixelFormat;
  yuv.nWidth = args.width;
  yuv.nHeight = args.height;
  yuv.nWidthAlignment = 2;
  yuv.nHeightAlignment = 2;
  if (!AllocYuvFrame(&yuv)) {
    FreeYuvFrame(&yuv);
    return false;
  }
  TFrameBuffer rgb;
  bool ok = ReadPackedYuvFrame(args.path, yuv);
  const int depth = m_VideoPortHub.Port(args.channel).Depth();
  ok = ok && (depth == 24 || depth == 32);
  if (ok) {
    rgb.ePixelFormat = PF_RGB32;
    rgb.nWidth = args.width;
    rgb.nHeight = args.height;
    rgb.nRowAlignment = 4;
    rgb.nHeightAlignment = 1;
    ok = AllocFrameBuffer(&rgb) && ConvertYuvToRgb(yuv, rgb) && PutFrameInPort(args.channel, rgb);
  }
  if (ok) {
    FillOpenedSource(args, TStreamType{FileFormatToStreamType(args.format)}, args.width, args.height,
                     pixelFormat, args.sequence, true);
    // The frame's pixel format, its plane layout and the codes of the
    // format's colour coding, range and sampling.
    std::uint8_t params[kMediaResultBlockSize] = {};
    const std::int32_t values[12] = {pixelFormat,
                                     yuv.nWidth,
                                     yuv.nHeight,
                                     yuv.nAlignedWidth,
                                     yuv.nAlignedHeight,
                                     yuv.nYSize,
                                     yuv.nCbSize,
                                     GetYuvColorStandard(pixelFormat),
                                     GetYuvRangeCode(pixelFormat),
                                     GetYuvSubsamplingSiting(pixelFormat),
                                     GetYuvSamplingCode(pixelFormat),
                                     GetYuvSitingCode(pixelFormat)};
    std::memcpy(params, values, sizeof values);
    params[sizeof values] = yuv.bFlag1;
    params[sizeof values + 1] = args.sequence ? 1 : 0;
    m_Format[args.channel].Reset();
    m_Format[args.channel].SetParams(m_Source[args.channel].eStreamType, params, sizeof params, 0);
  }
  FreeFrameBuffer(&rgb);
  FreeYuvFrame(&yuv);
  return ok;
}

bool CZarnDoc::LoadMngSource(const TOpenSourceArgs& args, bool reopen) {
  // The animation's picture comes from an MNG reader through
  // DecodeMediaRequest: the first frame, or on a re-open the frame at the
  // position the channel reader keeps (raised request, stored fraction).
  // The header values land in the results block, which the channel's
  // stream format keeps.
  TFrameBuffer frame;
  std::int32_t results[kMediaResultBlockSize / 4] = {};
  ReadStream::CReadStream& reader = m_pEngineLink->Reader(args.channel);
  const bool previousRequest = reader.m_bSeekRequest.load();
  const std::int32_t previousNumerator = reader.m_nSeekNumerator.load();
  reader.m_bSeekRequest.store(reopen);
  if (!reopen) reader.m_nSeekNumerator.store(0);
  std::atomic<bool> stop{false};
  std::atomic<bool> end{false};
  MngMgr::TMngParams params;
  params.nProcId = args.channel + 41;
  params.eSenderKind = MEDIA_SENDER_DSHOW;
  params.ePurpose = SRC_GRAB_FRAME;
  params.pStopFlag = &stop;
  params.pEndFlag = &end;
  params.pSeekRequest = &reader.m_bSeekRequest;
  params.pSeekNumerator = &reader.m_nSeekNumerator;
  params.pSeekDenominator = &reader.m_nSeekDenominator;
  params.bFlag = true;
  params.eInfoTag = MEDIA_REQ_MNG_PARAMS;
  params.pInfo = results;
  TMediaRequest request;
  request.eOp = MEDIA_OP_READ;
  request.ePurpose = SRC_GRAB_FRAME;
  request.eSourceFormat = TFileFormat{args.format};
  request.ePixelFormat = PF_RGB32;
  request.pPath = &args.path;
  request.pFrameBuffer = &frame;
  request.eTag = MEDIA_REQ_MNG;
  request.pParams = &params;
  DecodeMediaRequest(request);
  if (!request.bSuccess) {
    FreeFrameBuffer(&frame);
    // A failed open leaves the channel's position alone.
    reader.m_bSeekRequest.store(previousRequest);
    reader.m_nSeekNumerator.store(previousNumerator);
    return false;
  }
  const bool picture = frame.pBuffer != nullptr;
  std::vector<std::uint8_t> placeholder;
  TFrameBuffer shown = frame;
  if (!picture) {
    placeholder.assign(300 * 100 * 4, 0);
    shown = Rgb32Frame(placeholder, 300, 100);
  }
  bool ok = PutFrameInPort(args.channel, shown);
  if (ok && !picture) {
    Dib::TDibPtr bitmap;
    if (Dib::CreatePlaceholderBitmap(bitmap) && bitmap) {
      DrawPlaceholderText(*bitmap, "No video data is available");
      TVideoPortUpdate render;
      render.nCommand = VPU_RENDER_BITMAP;
      render.nPortIndex = args.channel;
      render.pSourceBitmap = bitmap.get();
      render.bSwap = 1;
      m_VideoPortHub.UpdatePort(render);
      RefreshChannelPanes(args.channel, render.bSizeChanged != 0);
    }
  }
  const std::int32_t width = picture ? frame.nWidth : 300;
  const std::int32_t height = picture ? frame.nHeight : 100;
  FreeFrameBuffer(&frame);
  if (!ok) return false;
  FillOpenedSource(args, TStreamType{FileFormatToStreamType(args.format)}, width, height, PF_RGB24, false,
                   picture);
  m_Format[args.channel].Reset();
  m_Format[args.channel].SetParams(m_Source[args.channel].eStreamType, results, sizeof results, 0);
  if (!reopen) {
    m_bChannelStreaming[args.channel] = false;
    if (m_pControllerView)
      pq::PostAppMessage(m_pControllerView.data(), pq::WM_APP_CHANNEL_SLIDER,
                         static_cast<pq::WPARAM>(args.channel), 3);
  }
  return true;
}

bool CZarnDoc::LoadDShowSource(const TOpenSourceArgs& args, const TDShowOpenOptions& options) {
  const std::int32_t format = args.format;
  const bool accepted = format == FF_SYSTEM_DEVICE || format == FF_OOV ||
                        (format >= FF_MPEG2 && format <= FF_MPEG4) || (format >= FF_DV && format <= FF_MOV) ||
                        (format >= FF_MP3 && format <= FF_WAV);
  if (!accepted) return false;
  const TSourcePurpose purpose = options.configure ? SRC_GRAB_FRAME_CONFIG : SRC_GRAB_FRAME;
  if (options.configure && (options.extensionTag != MEDIA_REQ_DEVICE_CONFIG || !options.extension))
    return false;

  // The session's own stop and end flags; its seek request is the channel
  // reader's. A re-open grabs the picture at the position the reader keeps
  // (raised request, stored fraction); a fresh open starts at the beginning.
  std::atomic<bool> stop{false};
  std::atomic<bool> end{false};
  ReadStream::CReadStream& reader = m_pEngineLink->Reader(args.channel);
  const bool previousRequest = reader.m_bSeekRequest.load();
  const std::int32_t previousNumerator = reader.m_nSeekNumerator.load();
  auto keepReaderPosition = [&] {  // a failed open leaves the channel's position alone
    reader.m_bSeekRequest.store(previousRequest);
    reader.m_nSeekNumerator.store(previousNumerator);
  };
  reader.m_bSeekRequest.store(options.reopen);
  if (!options.reopen) reader.m_nSeekNumerator.store(0);
  TSourceParams params;
  params.nSenderId = args.channel + 41;
  params.eSenderKind = MEDIA_SENDER_DSHOW;
  params.ePurpose = purpose;
  params.pContext = this;
  params.pCallbackObject = &m_Callback;
  params.pStopFlag = &stop;
  params.pEndFlag = &end;
  params.pSeekFlag = &reader.m_bSeekRequest;
  params.pSeekNumerator = &reader.m_nSeekNumerator;
  params.pSeekDenominator = &reader.m_nSeekDenominator;
  params.eGrabPixelFormat = PF_RGB32;
  if (options.configure || options.extensionTag == MEDIA_REQ_DVD) {
    params.eExtensionTag = TMediaRequestTag{options.extensionTag};
    params.pExtension = options.extension;
  }

  TFrameBuffer frame;
  std::int32_t results[kMediaResultBlockSize / 4] = {};
  TMediaRequest request;
  request.eOp = MEDIA_OP_READ;
  request.ePurpose = purpose;
  request.eSourceFormat = TFileFormat{format};
  request.eStreamType = TStreamType{FileFormatToStreamType(format)};
  request.ePixelFormat = PF_RGB32;
  request.pPath = &args.path;
  request.nDeviceCategory = options.deviceCategory;
  request.nDeviceKind = options.deviceKind;
  request.pFrameBuffer = &frame;
  request.pResults = results;
  request.eTag = MEDIA_REQ_DSHOW_SOURCE;
  request.pParams = &params;
  DecodeMediaRequest(request);
  if (!request.bSuccess) {
    FreeFrameBuffer(&frame);
    keepReaderPosition();
    return false;
  }

  const bool picture = frame.pBuffer != nullptr;
  bool ok = false;
  Dib::TDibPtr placeholder;
  if (picture) {
    ok = PutFrameInPort(args.channel, frame);
  } else if (Dib::CreatePlaceholderBitmap(placeholder) && placeholder) {
    const char* text = "No video data is available";
    if (format == FF_SYSTEM_DEVICE) {
      if (request.nDeviceKind == 1)
        text = "Audio device...";
      else if (request.nDeviceKind == 6)
        text = "DVD media source...";
    } else if (format >= FF_MP3 && format <= FF_WAV) {
      text = "Audio stream...";
    }
    DrawPlaceholderText(*placeholder, text);
    VideoPort::CVideoPort& port = m_VideoPortHub.Port(args.channel);
    const std::int32_t previousOrientation = port.Orientation();
    TVideoPortUpdate reset;
    reset.nCommand = VPU_RESET;
    reset.nPortIndex = args.channel;
    reset.bResetOrientation = 1;
    m_VideoPortHub.UpdatePort(reset);
    TVideoPortUpdate render;
    render.nCommand = VPU_RENDER_BITMAP;
    render.nPortIndex = args.channel;
    render.pSourceBitmap = placeholder.get();
    render.bSwap = 1;
    ok = m_VideoPortHub.UpdatePort(render);
    if (ok) {
      RefreshChannelPanes(args.channel, render.bSizeChanged != 0);
    } else {
      TVideoPortUpdate restore;
      restore.nCommand = VPU_ORIENT;
      restore.nPortIndex = args.channel;
      restore.nOrientation = previousOrientation;
      restore.bAbsolute = 1;
      restore.bStoreOnly = 1;
      m_VideoPortHub.UpdatePort(restore);
    }
  }
  const std::int32_t width = picture ? frame.nWidth : 1;
  const std::int32_t height = picture ? frame.nHeight : 1;
  FreeFrameBuffer(&frame);
  if (!ok) {
    keepReaderPosition();
    return false;
  }

  TPixelFormat framePixelFormat = PF_RGB24;
  TPixelFormat delivered = params.eGrabPixelFormat;
  if (format == FF_SYSTEM_DEVICE) {
    const std::int32_t native = params.eNativePixelFormat;
    framePixelFormat = (native == 27 || native == 28 || native == 94) ? TPixelFormat{native} : PF_RGB32;
    delivered = framePixelFormat;
  }
  const bool counted = picture || options.deviceCategory == 6;
  FillOpenedSource(args, TStreamType{FileFormatToStreamType(format)}, width, height, framePixelFormat, true,
                   counted);
  m_bHasPicture[args.channel] = picture;
  TMediaSource& source = m_Source[args.channel];
  source.eSourcePixelFormat = params.eNativePixelFormat;
  source.eDeliveredPixelFormat = delivered;
  source.nDeviceCategory = options.deviceCategory;
  source.nDeviceKind = options.deviceKind;
  ReadStream::TReaderSource description = reader.Description();
  description.eNativePixelFormat = source.eSourcePixelFormat;
  description.eGrabPixelFormat = source.eDeliveredPixelFormat;
  description.nDeviceCategory = options.deviceCategory;
  description.nDeviceKind = options.deviceKind;
  reader.SetDescription(description);
  if (!options.reopen) {
    m_bChannelStreaming[args.channel] = false;
    m_Engine.m_Channel[args.channel].nFilePeriod.store(0);  // learnt again from the new file
    if (m_pControllerView)
      pq::PostAppMessage(m_pControllerView.data(), pq::WM_APP_CHANNEL_SLIDER,
                         static_cast<pq::WPARAM>(args.channel), 3);
  }
  m_Format[args.channel].Reset();
  m_Format[args.channel].SetParams(source.eStreamType, results, sizeof results, options.deviceKind);
  return true;
}

bool CZarnDoc::OpenDvdSource(const std::string& /*path*/, std::int32_t /*extCode*/, int /*channel*/) {
  // DVD volumes are played by the DVD graph of the media-graph session
  // manager; without it a volume cannot be opened.
  return false;
}

// ---------------------------------------------------------------------------
// Decoding one request

void CZarnDoc::DecodeMediaRequest(TMediaRequest& request) {
  const std::int32_t format = request.eSourceFormat;
  auto decoded = [&request](bool ok) {
    if (ok) request.bSuccess = true;
  };
  if ((format >= 2 && format <= 6) || (format >= 8 && format <= 14) || (format >= 19 && format <= 21)) {
    // Media-graph files and devices: one session of a session manager made
    // for this request.
#if defined(TOVRIN_HAVE_MEDIA_GRAPH)
    DShowMgr::CDShowMgr graph;
    decoded(graph.Run(&request));
#else
    FailRequest(request, MEDIA_ERR_DSHOW_SESSION);
#endif
    return;
  }
  switch (format) {
    case FF_MNG: {
      MngMgr::CMngMgr mng;
      decoded(mng.Run(&request));
      mng.Close();
      return;
    }
    case FF_BMP: {
      // The image holder keeps the picture it read; the caller's frame gets
      // a copy of its own, which the caller may keep, reuse or free.
      TFrameBuffer* target = request.pFrameBuffer;
      TFrameBuffer held;
      request.pFrameBuffer = target ? &held : nullptr;
      const bool read = m_Image.ReadBmp(request);
      request.pFrameBuffer = target;
      if (read && target && !CopyHeldFrame(held, *target)) {
        request.bSuccess = false;
        return;
      }
      decoded(read);
      return;
    }
    case FF_GIF: {
      GifMgr::CGifMgr gif;
      decoded(gif.ReadGif(request));
      return;
    }
    case FF_JPEG:
    case FF_JPEG_GRAY: {
      JpegMgr::CJpegMgr jpeg;
      decoded(jpeg.ReadJpeg(request));
      return;
    }
    case FF_JP2:
    case FF_JPC: {
      Jpeg2000Mgr::CJpeg2000Mgr jpeg2000;
      decoded(jpeg2000.ReadJpeg2000(request));
      return;
    }
    case FF_PNG: {
      PngMgr::CPngMgr png;
      decoded(png.ReadPng(request));
      return;
    }
    case FF_TIFF: {
      TiffMgr::CTiffMgr tiff;
      decoded(tiff.ReadTiff(request));
      return;
    }
    default: break;
  }
  if (format >= 46 && format <= 94 && request.pPath) {
    std::uint8_t* y = nullptr;
    std::uint8_t* u = nullptr;
    std::uint8_t* v = nullptr;
    const bool read = LoadRawYuvFile(*request.pPath, request.nWidth, request.nHeight, format, &y, &u, &v);
    const bool kept =
        read && m_Image.SetYuvFrame(request.ePixelFormat, request.nWidth, request.nHeight, y, u, v);
    std::free(y);
    if (kept) {
      request.bSuccess = true;
      request.ePixelFormat = m_Image.GetYuvFormat();
      request.nWidth = m_Image.GetYuvWidth();
      request.nHeight = m_Image.GetYuvHeight();
      request.pPlanes = const_cast<std::uint8_t*>(m_Image.GetYuvBuffer());
    }
    return;
  }
  request.bSuccess = false;
}

}  // namespace ZarnDoc
