// Saving and capturing pictures: Save and Save As (a copy of a channel's
// picture), Capture Image, the controller pane's "Get" and "Save" buttons,
// the picture-in-picture composite, and the BMP files of the document's
// primary picture and of decoded frames.
//
// The writers themselves (io/codecs/save_picture.h) and the composite
// (media/pip_composite.h) need no Qt; this file only wires the commands to
// them. The picture saved is always the port's front picture, held for the
// whole write, so a channel that plays meanwhile is saved as one whole frame.

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "document/child_frame.h"
#include "document/picture_image.h"
#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document/zarn_doc_blocks.h"
#include "media/color_conversion.h"
#include "media/pip_composite.h"
#include "platform/message_sink.h"
#include "shell/command_ids.h"
#include "shell/doc_manager.h"

namespace ZarnDoc {

namespace pq = platform::qt;
using namespace ZarnTypes;

namespace {

constexpr const char* kCannotSave = "Can not save image to file\n%s";
constexpr const char* kCannotCapture = "Can not capture image from the channel %d";

std::string Format(const char* format, const std::string& text) {
  std::vector<char> out(text.size() + 64);
  std::snprintf(out.data(), out.size(), format, text.c_str());
  return out.data();
}

std::string Format(const char* format, int value) {
  char out[64];
  std::snprintf(out, sizeof out, format, value);
  return out;
}

bool ValidChannel(int channel) { return channel >= 0 && channel < kChannelCount; }

// The folder of a file about to be written, made when it is missing (the
// capture folders of a profile can be gone or not made yet).
void MakeFolderOf(const std::string& path) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::error_code ec;
  if (!folder.empty() && !std::filesystem::exists(folder, ec))
    std::filesystem::create_directories(folder, ec);
}

}  // namespace

// ---------------------------------------------------------------------------
// Commands

void CZarnDoc::RegisterSaveCommands() {
  // Save and Save As do the same: save a copy of a channel's picture.
  m_Commands.OnCommand(shell::ID_FILE_SAVE, [this] { OnFileSaveCopy(); });
  m_Commands.OnCommand(shell::ID_FILE_SAVE_AS, [this] { OnFileSaveCopy(); });
  m_Commands.OnUpdate(shell::ID_FILE_SAVE, [this](pq::TCmdUI& ui) { ui.Enable(CanSaveCopy()); });
  m_Commands.OnUpdate(shell::ID_FILE_SAVE_AS, [this](pq::TCmdUI& ui) { ui.Enable(CanSaveCopy()); });
  m_Commands.OnCommand(shell::ID_CAPTURE_IMAGE, [this] { OnCaptureImage(); });
}

bool CZarnDoc::CanSaveCopy() const {
  for (int ch = 0; ch < kChannelCount; ++ch)
    if (m_Source[ch].bOpen) return true;
  return false;
}

bool CZarnDoc::SaveImageByFormat(const std::string& path, std::int32_t format,
                                 const Dib::TDibSection& bitmap) const {
  return SavePicture::SaveImageByFormat(path, format, bitmap, m_Encoders);
}

// ---------------------------------------------------------------------------
// Save and Save As

void CZarnDoc::OnFileSaveCopy() {
  DocManagerEx::CDocManagerEx* manager = DocManagerEx::TheDocManager();
  if (!manager) return;
  // The picture of channel 0 gives the sizes the prompt shows; without one
  // there is nothing to save.
  const VideoPort::TPicture primary = m_VideoPortHub.Port(0).FrontBitmap();
  if (!primary) return;

  TFileDialogSettings& s = manager->Settings();
  s.extended = true;
  s.mode = FDM_SAVE_IMAGE_AS;
  for (std::size_t ch = 0; ch < kChannelCount; ++ch) {
    const TMediaSource& source = m_Source[ch];
    s.channelAllowed[ch] = source.bOpen != FALSE_;
    s.channelPaths[ch] = source.eSourceCategory == SOURCE_CAT_DEVICE ? source.sDisplayName : source.sPath;
  }
  s.channel = 0;
  s.format = m_Encoders.nValue;
  s.jpegQuality = m_Encoders.nJpegQuality;
  Blocks::EncodeJpeg2000(m_Encoders.jpeg2000, s.jpeg2000);
  Blocks::EncodePng(m_Encoders.png, s.png);
  Blocks::EncodeGif(m_Encoders.gif, s.gif);
  Blocks::EncodeTiff(m_Encoders.tiff, s.tiff);
  s.width = s.yuvWidth = primary->Width();
  s.height = s.yuvHeight = primary->Height();

  manager->SetParentWidget(m_pChildFrame ? static_cast<QWidget*>(m_pChildFrame.data()) : nullptr);
  std::string path;
  if (manager->DoPromptFileName(path, DocManagerEx::AFX_IDS_SAVEFILECOPY,
                                DocManagerEx::OFN_HIDEREADONLY | DocManagerEx::OFN_PATHMUSTEXIST, false,
                                nullptr))
    OnSaveDocument(path);
  manager->Settings().extended = false;
}

bool CZarnDoc::OnSaveDocument(const std::string& path) {
  int channel = 0;
  if (DocManagerEx::CDocManagerEx* manager = DocManagerEx::TheDocManager()) {
    // The prompt's answers become the document's save settings.
    const TFileDialogSettings& s = manager->Settings();
    channel = std::clamp(s.channel, 0, kChannelCount - 1);
    m_Encoders.nValue = s.format;
    m_Encoders.nJpegQuality = s.jpegQuality;
    Blocks::DecodeJpeg2000(s.jpeg2000, m_Encoders.jpeg2000);
    const std::int32_t paletteKind = m_Encoders.png.nPaletteKind;
    Blocks::DecodePng(s.png, m_Encoders.png);
    m_Encoders.png.nPaletteKind = paletteKind;
    Blocks::DecodeGif(s.gif, m_Encoders.gif);
    Blocks::DecodeTiff(s.tiff, m_Encoders.tiff);
  }
  const VideoPort::TPicture picture = m_VideoPortHub.Port(channel).FrontBitmap();
  if (!picture || !SaveImageByFormat(path, m_Encoders.nValue, *picture)) {
    platform::ShowMessage(Format(kCannotSave, path));
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Numbered captures

void CZarnDoc::OnCaptureImage() {
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const SaveImage::CSaveImage& saver = m_ImageSaver[static_cast<std::size_t>(ch)];
    if (!m_Source[ch].bOpen || (!saver.m_bSendToClipboard && !saver.m_bSaveToFile)) continue;
    bool ok = true;
    // "Send copy to Clipboard" puts the picture on the clipboard as the
    // pane's Copy does; "Save copy to file" writes the next numbered file.
    if (saver.m_bSendToClipboard) {
      const VideoPort::TPicture picture = m_VideoPortHub.Port(ch).FrontBitmap();
      const QImage image = picture ? ZarnView::PictureToImage(*picture) : QImage();
      QClipboard* clipboard = QGuiApplication::clipboard();
      ok = !image.isNull() && clipboard;
      if (ok) clipboard->setImage(image);
    }
    if (ok && saver.m_bSaveToFile) ok = CaptureChannelImage(ch);
    if (!ok) {
      platform::ShowMessage(Format(kCannotCapture, ch + 1));
      return;
    }
  }
}

bool CZarnDoc::CaptureChannelImage(int channel) {
  if (!ValidChannel(channel)) return false;
  SaveImage::CSaveImage& saver = m_ImageSaver[static_cast<std::size_t>(channel)];
  // While playing, files are numbered by the shown frame; otherwise the
  // writer's counter goes up first (a failed capture uses its number too).
  const std::int32_t number = m_Engine.IsRunning() ? ShownFrame(channel) : ++saver.m_nFileCounter;
  const std::int32_t format = StreamTypeToFileFormat(saver.m_eCaptureFormat);
  const std::string path = saver.BuildFileName(number);
  if (path.empty()) return false;
  const VideoPort::TPicture picture = m_VideoPortHub.Port(channel).FrontBitmap();
  if (!picture) return false;
  MakeFolderOf(path);
  return SaveImageByFormat(path, format, *picture);
}

bool CZarnDoc::SaveReferenceImage(int writer, std::int32_t number, bool composite) {
  if (writer != 0 && writer != 1) return false;
  SaveImage::CSaveImage& saver = m_ImageSaver[static_cast<std::size_t>(writer)];
  const std::int32_t format = StreamTypeToFileFormat(saver.m_eCaptureFormat);
  const SavePicture::TFormatWriter kind = SavePicture::FindFormatWriter(format);
  if (kind.eWriter == SavePicture::WRITER_NONE) return false;
  const int channel = writer + 2;
  VideoPort::TPicture picture = m_VideoPortHub.Port(channel).FrontBitmap();
  if (!picture) return false;
  if (composite) {
    auto mixed = std::make_shared<Dib::TDibSection>();
    if (BuildPipComposite(channel, false, *mixed)) picture = std::move(mixed);
  }
  const std::string path = saver.BuildFileName(number);
  if (path.empty()) return false;
  // A raw YCbCr picture goes to the end of the raw YUV file of the recorder
  // with the writer's index while that recorder has its one file open;
  // otherwise it is a numbered file of its own, so a save never fails only
  // because no recording runs.
  SaveStream::CSaveStream& recorder = m_Recorder[static_cast<std::size_t>(writer)];
  const bool append = kind.eWriter == SavePicture::WRITER_YUV && recorder.m_bSingleFile && recorder.IsOpen();
  bool ok = false;
  if (append) {
    ok = recorder.WriteBitmapYuv(*picture);
  } else {
    MakeFolderOf(path);
    ok = SaveImageByFormat(path, format, *picture);
  }
  if (!ok) {
    platform::ShowMessage(Format(kCannotSave, append ? recorder.m_sSingleFileName : path));
    return false;
  }
  return true;
}

bool CZarnDoc::OnSaveReference(int channel) {
  if (channel != 2 && channel != 3) return false;
  const int writer = channel - 2;
  SaveImage::CSaveImage& saver = m_ImageSaver[static_cast<std::size_t>(writer)];
  const std::int32_t number = m_Engine.IsRunning() ? ShownFrame(channel) : ++saver.m_nFileCounter;
  saver.m_nReserved3 = 0;
  return SaveReferenceImage(writer, number, false);
}

// ---------------------------------------------------------------------------
// Picture in picture

bool CZarnDoc::BuildPipComposite(int index, bool ownChannel, Dib::TDibSection& composite) const {
  if (index < 0 || index >= kPaneCount) return false;
  if (ownChannel && index > 1) return false;
  const int mainChannel = ownChannel ? index : m_nPaneChannel[index];
  const TPictInPict& pip = m_Pip[index];
  const int insetChannel = pip.nInsetChannel;
  if (!ValidChannel(mainChannel) || !ValidChannel(insetChannel)) return false;
  const VideoPort::TPicture main = m_VideoPortHub.Port(mainChannel).FrontBitmap();
  const VideoPort::TPicture inset = m_VideoPortHub.Port(insetChannel).FrontBitmap();
  if (!main || !inset) return false;
  // The pane's stretch mode: while playing the fast one when the pane asks
  // for it, else the playing mode; stopped the viewing mode.
  const TVideoPaneSettings& pane = m_VideoPane[index];
  const std::int32_t code = m_Engine.IsRunning() ? (pane.bFastStretch ? 3 : pane.nPlayMode) : pane.nViewMode;
  PipComposite::TPipRect to{0, 0, pip.nWidth, pip.nHeight};
  if (pip.nPlacement) to.x = pip.nX, to.y = pip.nY;
  const PipComposite::TPipRect from{pip.nSourceX, pip.nSourceY, pip.nSourceWidth, pip.nSourceHeight};
  return PipComposite::BuildPipComposite(*main, *inset, to, pip.nSourceRect ? &from : nullptr,
                                         PipComposite::StretchModeFromCode(code), composite);
}

// ---------------------------------------------------------------------------
// BMP files of the primary picture and of decoded frames

bool CZarnDoc::WriteRgb24AsBmp(const std::uint8_t* bits, int width, int height, const std::string& path) {
  if (!bits || width <= 0 || height <= 0 || path.empty()) return false;
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  const std::size_t stride = Dib::DibStride(width, 24);
  Dib::TBitmapInfo info;
  info.header.biWidth = width;
  info.header.biHeight = height;
  info.header.biPlanes = 1;
  info.header.biBitCount = 24;
  info.header.biCompression = Dib::BI_RGB;
  info.header.biSizeImage = static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height));
  // Rows padded to 4 bytes, as the header says.
  std::vector<std::uint8_t> rows(stride * static_cast<std::size_t>(height), 0);
  for (int y = 0; y < height; ++y)
    std::copy_n(bits + row * static_cast<std::size_t>(y), row,
                rows.begin() + static_cast<std::ptrdiff_t>(stride * y));
  return Dib::WriteBmpFile(path, info, rows.data());
}

std::string CZarnDoc::DecodedFramePath(std::int32_t frameNumber) const {
  char name[32];
  std::snprintf(name, sizeof name, "%06d.bmp", frameNumber);
  // The folder text may or may not end in a separator.
  std::string path = ch_sSysDirH264;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  return path + name;
}

bool CZarnDoc::WriteDecodedFrameBmp(const std::uint8_t* bits, int width, int height,
                                    std::int32_t frameNumber) {
  return WriteRgb24AsBmp(bits, width, height, DecodedFramePath(frameNumber));
}

void CZarnDoc::OnDecodedFrameShown(std::int32_t frameNumber, const std::uint8_t* yuv420, std::int32_t width,
                                   std::int32_t height) {
  if (!ch_bEnableSaveDecodedFramesBmp || !yuv420 || width <= 0 || height <= 0) return;
  static const ImageColorConversion::CImageColorConversion conversion;
  const std::size_t lumaSize = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const std::size_t chromaSize =
      static_cast<std::size_t>((width + 1) / 2) * static_cast<std::size_t>((height + 1) / 2);
  std::vector<std::uint8_t> rgb(lumaSize * 3);
  conversion.ConvertYuv420ToRgb24(yuv420, yuv420 + lumaSize, yuv420 + lumaSize + chromaSize, rgb.data(),
                                  width, height);
  WriteDecodedFrameBmp(rgb.data(), width, height, frameNumber);
}

bool CZarnDoc::SavePrimaryPictureAsBmp(const std::string& path) {
  if (path.empty()) return false;
  const VideoPort::TPicture picture = m_VideoPortHub.Port(0).FrontBitmap();
  if (!picture || picture->BitCount() != 32 || picture->Width() <= 0 || picture->Height() <= 0) return false;
  const int width = picture->Width();
  const int height = picture->Height();
  // The picture's rows top first, then into 3-byte rows bottom first.
  const std::size_t row = static_cast<std::size_t>(width) * 4;
  std::vector<std::uint8_t> top(row * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    std::copy_n(picture->RowFromTop(y), row, top.begin() + static_cast<std::ptrdiff_t>(row * y));
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * 3 * static_cast<std::size_t>(height));
  Dib::CopyRgb32ToRgb24Flipped(rgb.data(), top.data(), width, height);
  return WriteRgb24AsBmp(rgb.data(), width, height, path);
}

// ---------------------------------------------------------------------------
// The engine's notice of a decoded frame

void CZarnDocEngineLink::DecodedFrameShown(std::int32_t frameNumber, const std::uint8_t* yuv420,
                                           std::int32_t width, std::int32_t height) {
  m_pDocument->OnDecodedFrameShown(frameNumber, yuv420, width, height);
}

}  // namespace ZarnDoc
