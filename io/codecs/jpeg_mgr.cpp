#include "io/codecs/jpeg_mgr.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "io/codecs/codec_common.h"
#include "platform/files.h"
#include "platform/message_sink.h"
#include "platform/text.h"

namespace JpegMgr {

using ZarnTypes::FailRequest;
using ZarnTypes::SucceedRequest;
using ZarnTypes::TFrameBuffer;
using ZarnTypes::TMediaRequest;
using ZarnTypes::TPixelFormat;

// The library's error record followed by the jump buffer of the call that
// owns it; the error exit returns there.
struct TJpegErrorMgr {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  // The library's messages of the call, shown together in one box when the
  // call ends: a damaged file often brings a warning and then an error.
  std::string messages;
};

namespace {

constexpr char kJpegErrorCaption[] = "JPEG Library Error";

// The program's own messages, raised through the library's error exit so that
// they end a call the same way as the library's errors.
enum TAddonMessage : int {
  JMSG_FIRST_ADDON = 1000,
  JERR_PICTURE_TOO_LARGE = JMSG_FIRST_ADDON,
  JERR_TOO_MANY_SCANS,
  JERR_OUTPUT_MEMORY,
  JMSG_LAST_ADDON = JERR_OUTPUT_MEMORY,
};
const char* const kAddonMessages[] = {
    "Picture of %d x %d pixels is too large to decode",
    "Progressive JPEG file with more than %d scans",
    "Out of memory for the compressed picture",
    nullptr,
};

std::string CantOpenText(const std::string& path) { return "Can't open " + path + "\n"; }

// A failure the JPEG codec reports by its result alone: the success flag
// is cleared and the error code left as it was.
bool FailWithoutCode(TMediaRequest& request) {
  request.bSuccess = false;
  return false;
}

// The library's texts are ASCII; anything else a crafted file slips into a
// message parameter is replaced so that the text stays valid UTF-8.
std::string PrintableText(const char* text) {
  std::string out(text);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80 || (u < 0x20 && c != '\n' && c != '\t')) c = '?';
  }
  return out;
}

void OutputMessage(j_common_ptr cinfo) {
  char buffer[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, buffer);
  auto* mgr = reinterpret_cast<TJpegErrorMgr*>(cinfo->err);
  try {
    const std::string text = PrintableText(buffer);
    // The same line twice says nothing new.
    if (mgr->messages.find(text) == std::string::npos) {
      if (!mgr->messages.empty()) mgr->messages += '\n';
      mgr->messages += text;
    }
  } catch (...) {
    // A message that cannot be kept must not unwind through the library.
  }
}

// Shows the messages of a call, if any, in one box.
void ShowCallMessages(const TJpegErrorMgr& mgr) {
  if (!mgr.messages.empty())
    platform::ShowMessage(mgr.messages, kJpegErrorCaption, platform::MB_OK | platform::MB_ICONERROR);
}

void EmitMessage(j_common_ptr cinfo, int msgLevel) {
  jpeg_error_mgr* err = cinfo->err;
  if (msgLevel < 0) {
    // Extraneous bytes before a marker are common in files from cameras and
    // editors and harmless: never shown.
    if (err->msg_code == JWRN_EXTRANEOUS_DATA) return;
    if (err->num_warnings == 0 || err->trace_level >= 3) (*err->output_message)(cinfo);
    err->num_warnings++;
  } else if (err->trace_level >= msgLevel) {
    (*err->output_message)(cinfo);
  }
}

[[noreturn]] void RaiseAddonError(j_common_ptr cinfo, int code, int parm0, int parm1 = 0) {
  cinfo->err->msg_code = code;
  cinfo->err->msg_parm.i[0] = parm0;
  cinfo->err->msg_parm.i[1] = parm1;
  (*cinfo->err->error_exit)(cinfo);
  // error_exit never returns; this keeps the promise if it were replaced.
  std::abort();
}

// Ends a read whose progressive file keeps adding scans.
void ProgressMonitor(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  const auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->input_scan_number > kMaxJpegScans) RaiseAddonError(cinfo, JERR_TOO_MANY_SCANS, kMaxJpegScans);
}

// Everything of one decode that must survive the return to the jump buffer.
// It lives on the heap so that nothing the library changed is left in an
// automatic object of the function that armed the jump.
struct TDecodeState {
  jpeg_decompress_struct cinfo;
  TJpegErrorMgr err;
  jpeg_progress_mgr progress;
  bool ok;
};

// A destination that collects the compressed file in memory; the file is
// written whole once the compressor has finished.
struct TMemoryDestination {
  static constexpr std::size_t kChunk = 64 * 1024;
  jpeg_destination_mgr pub;
  std::vector<std::uint8_t>* out;
  JOCTET buffer[kChunk];
};

// Appends; false when memory ran out (the caller then raises the error, with
// nothing of the C++ side left to unwind).
bool AppendOutput(TMemoryDestination* dest, std::size_t count) {
  try {
    dest->out->insert(dest->out->end(), dest->buffer, dest->buffer + count);
    return true;
  } catch (...) {
    return false;
  }
}

void InitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<TMemoryDestination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = TMemoryDestination::kChunk;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<TMemoryDestination*>(cinfo->dest);
  // The whole buffer, whatever free_in_buffer says (the library's contract).
  if (!AppendOutput(dest, TMemoryDestination::kChunk))
    RaiseAddonError(reinterpret_cast<j_common_ptr>(cinfo), JERR_OUTPUT_MEMORY, 0);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = TMemoryDestination::kChunk;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<TMemoryDestination*>(cinfo->dest);
  if (!AppendOutput(dest, TMemoryDestination::kChunk - dest->pub.free_in_buffer))
    RaiseAddonError(reinterpret_cast<j_common_ptr>(cinfo), JERR_OUTPUT_MEMORY, 0);
}

// Everything of one encode that must survive the return to the jump buffer.
struct TEncodeState {
  jpeg_compress_struct cinfo;
  TJpegErrorMgr err;
  TMemoryDestination dest;
  std::vector<std::uint8_t> output;
};

std::int32_t ColorSpaceCode(J_COLOR_SPACE space) {
  switch (space) {
    case JCS_UNKNOWN: return JPEG_CS_UNKNOWN;
    case JCS_GRAYSCALE: return JPEG_CS_GRAYSCALE;
    case JCS_RGB: return JPEG_CS_RGB;
    case JCS_YCbCr: return JPEG_CS_YCBCR;
    case JCS_CMYK: return JPEG_CS_CMYK;
    case JCS_YCCK: return JPEG_CS_YCCK;
    default: return JPEG_CS_OTHER;
  }
}

}  // namespace

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  auto* mgr = reinterpret_cast<TJpegErrorMgr*>(cinfo->err);
  std::longjmp(mgr->jump, 1);
}

jpeg_error_mgr* InitJpegErrorMgr(TJpegErrorMgr& mgr) {
  jpeg_error_mgr* err = jpeg_std_error(&mgr.pub);
  err->error_exit = JpegErrorExit;
  err->output_message = OutputMessage;
  err->emit_message = EmitMessage;
  err->addon_message_table = kAddonMessages;
  err->first_addon_message = JMSG_FIRST_ADDON;
  err->last_addon_message = JMSG_LAST_ADDON;
  return err;
}

bool CJpegMgr::ReadJpeg(TMediaRequest& request) {
  if (request.eTag != ZarnTypes::MEDIA_REQ_NONE) return FailRequest(request, ZarnTypes::MEDIA_ERR_READ_JPEG);
  const std::string path = request.pPath ? *request.pPath : std::string();
  // Only a regular file is opened: a FIFO named x.jpg would block here.
  std::FILE* file = path.empty() ? nullptr : platform::OpenRegularFileStream(path);
  if (!file) {
    platform::ShowMessage(CantOpenText(path));
    return FailWithoutCode(request);
  }
  const bool ok = Decode(request, file, nullptr, 0, kMaxJpegPixels);
  std::fclose(file);
  return ok;
}

bool CJpegMgr::ReadJpegMemory(const std::uint8_t* pData, std::size_t nSize, TMediaRequest& request,
                              std::int64_t nMaxPixels) {
  if (request.eTag != ZarnTypes::MEDIA_REQ_NONE) return FailRequest(request, ZarnTypes::MEDIA_ERR_READ_JPEG);
  if (!pData || nSize == 0) return FailWithoutCode(request);  // as a file that cannot be opened
  return Decode(request, nullptr, pData, nSize, nMaxPixels);
}

namespace {

// All library work of one decode. Runs below the frame that armed the jump:
// a library error leaves it through the jump, so it holds nothing that needs
// destroying. Returns whether the picture was decoded.
bool DecodeRows(TDecodeState& st, TMediaRequest& request, std::FILE* pFile, const std::uint8_t* pData,
                std::size_t nSize, std::int64_t nMaxPixels) {
  j_decompress_ptr const cinfo = &st.cinfo;
  jpeg_create_decompress(cinfo);
  cinfo->mem->max_memory_to_use = kMaxJpegWorkingMemory;
  st.progress.progress_monitor = ProgressMonitor;
  cinfo->progress = &st.progress;
  if (pFile)
    jpeg_stdio_src(cinfo, pFile);
  else
    jpeg_mem_src(cinfo, pData, static_cast<unsigned long>(nSize));

  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
  // A hostile header must not make the library or the frame allocator take
  // more than a real picture of that size would need.
  const std::int64_t pixels = std::int64_t{cinfo->image_width} * std::int64_t{cinfo->image_height};
  if (pixels > nMaxPixels)
    RaiseAddonError(reinterpret_cast<j_common_ptr>(cinfo), JERR_PICTURE_TOO_LARGE,
                    static_cast<int>(cinfo->image_width), static_cast<int>(cinfo->image_height));

  const TPixelFormat target = request.ePixelFormat;
  const bool knownTarget = target == ZarnTypes::PF_RGB24 || target == ZarnTypes::PF_RGB32;
  if (knownTarget) cinfo->out_color_space = JCS_RGB;

  jpeg_start_decompress(cinfo);
  const JDIMENSION rowSize = cinfo->output_width * static_cast<JDIMENSION>(cinfo->output_components);
  JSAMPARRAY row =
      (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, rowSize, 1);

  bool decoded = false;
  const auto width = static_cast<std::int32_t>(cinfo->output_width);
  const auto height = static_cast<std::int32_t>(cinfo->output_height);
  // Another target or no frame leaves the rows unread; finishing then ends
  // through the library's "too few scanlines" error.
  if (knownTarget && cinfo->output_components == 3 &&
      Codecs::PrepareFrame(request.pFrameBuffer, target, width, height)) {
    TFrameBuffer& frame = *request.pFrameBuffer;
    const int pixelBytes = target == ZarnTypes::PF_RGB24 ? 3 : 4;
    while (cinfo->output_scanline < cinfo->output_height) {
      // The first picture row is the last row of the buffer.
      const std::int64_t y = height - 1 - static_cast<std::int64_t>(cinfo->output_scanline);
      if (jpeg_read_scanlines(cinfo, row, 1) != 1) break;
      const JSAMPLE* src = row[0];
      std::uint8_t* dst = frame.pBuffer + y * frame.nStride;
      for (std::int32_t x = 0; x < width; ++x, src += 3, dst += pixelBytes) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        if (pixelBytes == 4) dst[3] = 0;
      }
    }
    Codecs::DescribeFrame(request, frame);
    if (request.pResults) {
      const TJpegReadInfo info{ColorSpaceCode(cinfo->jpeg_color_space), cinfo->data_precision};
      std::memcpy(request.pResults, &info, sizeof info);
    }
    decoded = true;
  }
  jpeg_finish_decompress(cinfo);
  return decoded;
}

// All library work of one encode, below the frame that armed the jump.
void EncodeRows(TEncodeState& st, const TMediaRequest& request, std::int32_t nQuality) {
  // Rows are taken only from a frame that holds every one of them.
  const TFrameBuffer* frame = request.pFrameBuffer;
  const TPixelFormat layout = request.ePixelFormat;
  const int pixelBytes = layout == ZarnTypes::PF_RGB24 ? 3 : layout == ZarnTypes::PF_RGB32 ? 4 : 0;
  const std::int32_t width = request.nWidth;
  const std::int32_t height = request.nHeight;
  const bool rowsReadable = pixelBytes != 0 && width > 0 && height > 0 &&
                            Codecs::FrameHoldsRows(frame, height, std::int64_t{width} * pixelBytes);

  j_compress_ptr const cinfo = &st.cinfo;
  jpeg_create_compress(cinfo);
  st.dest.pub.init_destination = InitDestination;
  st.dest.pub.empty_output_buffer = EmptyOutputBuffer;
  st.dest.pub.term_destination = TermDestination;
  st.dest.out = &st.output;
  cinfo->dest = &st.dest.pub;

  cinfo->image_width = width > 0 ? static_cast<JDIMENSION>(width) : 0;
  cinfo->image_height = height > 0 ? static_cast<JDIMENSION>(height) : 0;
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_RGB;
  jpeg_set_defaults(cinfo);
  if (request.eSourceFormat == ZarnTypes::FF_JPEG) {
    jpeg_set_colorspace(cinfo, JCS_YCbCr);
  } else if (request.eSourceFormat == ZarnTypes::FF_JPEG_GRAY) {
    jpeg_set_colorspace(cinfo, JCS_GRAYSCALE);
  } else {
    // Not a JPEG format: finishing a compressor that never started ends
    // through the library's state error.
    jpeg_finish_compress(cinfo);
  }
  jpeg_set_quality(cinfo, nQuality, TRUE);
  jpeg_start_compress(cinfo, TRUE);

  JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                               cinfo->image_width * 3, 1);
  if (rowsReadable) {
    while (cinfo->next_scanline < cinfo->image_height) {
      // The frame is bottom-up: the first row written is its last row.
      const std::int64_t y = height - 1 - static_cast<std::int64_t>(cinfo->next_scanline);
      const std::uint8_t* src = frame->pBuffer + y * frame->nStride;
      JSAMPLE* dst = row[0];
      for (std::int32_t x = 0; x < width; ++x, src += pixelBytes, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
      }
      jpeg_write_scanlines(cinfo, row, 1);
    }
  }
  // With rows missing this ends through "Application transferred too few
  // scanlines".
  jpeg_finish_compress(cinfo);
}

}  // namespace

bool CJpegMgr::Decode(TMediaRequest& request, std::FILE* pFile, const std::uint8_t* pData, std::size_t nSize,
                      std::int64_t nMaxPixels) {
  std::unique_ptr<TDecodeState> state;
  try {
    state = std::make_unique<TDecodeState>();
  } catch (const std::bad_alloc&) {
    return FailRequest(request, ZarnTypes::MEDIA_ERR_READ_JPEG);
  }
  TDecodeState* const st = state.get();
  st->cinfo.err = InitJpegErrorMgr(st->err);
  if (setjmp(st->err.jump) != 0) {
    // A library error: release the decompressor; the frame buffer keeps
    // whatever was prepared. It leaves no error code.
    jpeg_destroy_decompress(&st->cinfo);
    ShowCallMessages(st->err);
    return FailWithoutCode(request);
  }
  const bool decoded = DecodeRows(*st, request, pFile, pData, nSize, nMaxPixels);
  jpeg_destroy_decompress(&st->cinfo);
  ShowCallMessages(st->err);
  return decoded ? SucceedRequest(request) : FailRequest(request, ZarnTypes::MEDIA_ERR_READ_JPEG);
}

bool CJpegMgr::WriteJpeg(TMediaRequest& request, std::int32_t nQuality) {
  // A JPEG write has no error code: every failure is the result alone.
  if (request.eTag != ZarnTypes::MEDIA_REQ_NONE) return FailWithoutCode(request);
  const std::string path = request.pPath ? *request.pPath : std::string();
  if (path.empty()) {
    platform::ShowMessage(CantOpenText(path));
    return FailWithoutCode(request);
  }
  std::unique_ptr<TEncodeState> state;
  try {
    state = std::make_unique<TEncodeState>();
  } catch (const std::bad_alloc&) {
    return FailWithoutCode(request);
  }
  TEncodeState* const st = state.get();
  st->cinfo.err = InitJpegErrorMgr(st->err);
  if (setjmp(st->err.jump) != 0) {
    jpeg_destroy_compress(&st->cinfo);
    ShowCallMessages(st->err);
    return FailWithoutCode(request);
  }
  EncodeRows(*st, request, nQuality);
  jpeg_destroy_compress(&st->cinfo);
  ShowCallMessages(st->err);

  // The file appears only now, whole: a failure above left nothing on disk.
  if (!platform::WriteFileBytes(path, st->output.data(), st->output.size())) {
    platform::ShowMessage(CantOpenText(path));
    return FailWithoutCode(request);
  }
  return SucceedRequest(request);
}

}  // namespace JpegMgr
