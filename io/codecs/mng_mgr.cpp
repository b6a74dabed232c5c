#include "io/codecs/mng_mgr.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>

#include "io/codecs/codec_common.h"
#include "io/codecs/mng_lib.h"
#include "media/file_utils.h"
#include "media/frame_processor.h"
#include "platform/files.h"
#include "platform/message_sink.h"

using namespace ZarnTypes;

namespace MngMgr {

namespace {

constexpr std::uint8_t kMngSignature[8] = {0x8A, 'M', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// Errors of this reader's own (no libmng code).
constexpr std::int32_t kErrorSeekFailed = 904;
constexpr std::int32_t kErrorBudget = MNG_OUTOFMEMORY;
// The writer's wait when the recorder had no frame, and in other states.
constexpr int kWriterIdleMs = 10;
constexpr int kWriterPausedMs = 100;
// Frames pulled after the stop before the writer stops draining.
constexpr std::int64_t kDrainLimit = 4096;
// Longest sleep slice: stop and state changes are seen within it.
constexpr int kSleepSliceMs = 5;
// A DEFI is 2..28 bytes long; longer ones are passed on as they are.
constexpr std::uint32_t kMaxDefiLength = 64;

constexpr std::uint32_t ChunkId(char a, char b, char c, char d) {
  return (static_cast<std::uint32_t>(static_cast<std::uint8_t>(a)) << 24) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 16) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 8) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(d));
}
constexpr std::uint32_t kDefi = ChunkId('D', 'E', 'F', 'I');
constexpr std::uint32_t kMend = ChunkId('M', 'E', 'N', 'D');

// Chunks that show, copy, move, clip, magnify, discard or change stored
// objects, or repeat the stream: a file with any of them is read as it is.
constexpr std::uint32_t kObjectChunks[] = {
    ChunkId('S', 'H', 'O', 'W'), ChunkId('C', 'L', 'O', 'N'), ChunkId('M', 'O', 'V', 'E'),
    ChunkId('C', 'L', 'I', 'P'), ChunkId('P', 'A', 'S', 'T'), ChunkId('M', 'A', 'G', 'N'),
    ChunkId('D', 'I', 'S', 'C'), ChunkId('D', 'H', 'D', 'R'), ChunkId('P', 'R', 'O', 'M'),
    ChunkId('I', 'P', 'N', 'G'), ChunkId('P', 'P', 'L', 'T'), ChunkId('I', 'J', 'N', 'G'),
    ChunkId('D', 'R', 'O', 'P'), ChunkId('D', 'B', 'Y', 'K'), ChunkId('O', 'R', 'D', 'R'),
    ChunkId('L', 'O', 'O', 'P'), ChunkId('E', 'N', 'D', 'L'), ChunkId('e', 'X', 'P', 'I'),
    ChunkId('B', 'A', 'C', 'K'),
};

std::uint32_t ReadBe32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
void WriteBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

std::uint32_t Crc(const std::uint8_t* p, std::size_t n) {
  uLong crc = crc32(0L, Z_NULL, 0);
  while (n > 0) {
    const uInt step = static_cast<uInt>(std::min<std::size_t>(n, 1u << 30));
    crc = crc32(crc, p, step);
    p += step;
    n -= step;
  }
  return static_cast<std::uint32_t>(crc);
}

std::uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() & 0xFFFFFFFFu);
}

CMngMgr* Owner(mng_handle h) { return static_cast<CMngMgr*>(mng_get_userdata(h)); }

}  // namespace

// ---------------------------------------------------------------------------
// libmng's memory: every block carries its size and its budget in a header
// of its own (libmng sometimes frees a block with another length than it
// asked for). The budget of the thread's running request is the one charged.

struct CMngMgr::TBudget {
  std::uint64_t nLimit = 0;
  std::atomic<std::uint64_t> nUsed{0};
  std::atomic<std::uint64_t> nPeak{0};
  std::atomic<bool> bExceeded{false};
};

namespace {

struct alignas(16) TBlockHeader {
  std::uint64_t nSize;
  CMngMgr::TBudget* pBudget;
};
static_assert(sizeof(TBlockHeader) == 16);

thread_local CMngMgr::TBudget* t_pBudget = nullptr;

class TBudgetScope {
 public:
  explicit TBudgetScope(CMngMgr::TBudget* pBudget) : m_pPrevious(t_pBudget) { t_pBudget = pBudget; }
  ~TBudgetScope() { t_pBudget = m_pPrevious; }
  TBudgetScope(const TBudgetScope&) = delete;
  TBudgetScope& operator=(const TBudgetScope&) = delete;

 private:
  CMngMgr::TBudget* m_pPrevious;
};

mng_ptr MNG_DECL LibAlloc(mng_size_t nLength) {
  CMngMgr::TBudget* pBudget = t_pBudget;
  if (nLength > std::numeric_limits<std::size_t>::max() - sizeof(TBlockHeader)) return nullptr;
  if (pBudget) {
    const std::uint64_t nNow = pBudget->nUsed.fetch_add(nLength) + nLength;
    if (nNow > pBudget->nLimit) {
      pBudget->nUsed.fetch_sub(nLength);
      pBudget->bExceeded.store(true);
      return nullptr;
    }
    std::uint64_t nPeak = pBudget->nPeak.load();
    while (nNow > nPeak && !pBudget->nPeak.compare_exchange_weak(nPeak, nNow)) {
    }
  }
  void* pBlock = std::calloc(1, nLength + sizeof(TBlockHeader));
  if (!pBlock) {
    if (pBudget) pBudget->nUsed.fetch_sub(nLength);
    return nullptr;
  }
  auto* pHeader = static_cast<TBlockHeader*>(pBlock);
  pHeader->nSize = nLength;
  pHeader->pBudget = pBudget;
  return pHeader + 1;
}

void MNG_DECL LibFree(mng_ptr pData, mng_size_t /*nLength: not always the length allocated*/) {
  if (!pData) return;
  auto* pHeader = static_cast<TBlockHeader*>(pData) - 1;
  if (pHeader->pBudget) pHeader->pBudget->nUsed.fetch_sub(pHeader->nSize);
  std::free(pHeader);
}

mng_bool MNG_DECL LibOpenStream(mng_handle) { return MNG_TRUE; }
mng_bool MNG_DECL LibCloseStream(mng_handle) { return MNG_TRUE; }
mng_bool MNG_DECL LibReadData(mng_handle h, mng_ptr pBuffer, mng_uint32 nLength, mng_uint32p pRead) {
  CMngMgr* self = Owner(h);
  if (!self) return MNG_FALSE;
  return self->OnReadData(pBuffer, nLength, pRead) ? MNG_TRUE : MNG_FALSE;
}
mng_bool MNG_DECL LibWriteData(mng_handle h, mng_ptr pBuffer, mng_uint32 nLength, mng_uint32p pWritten) {
  CMngMgr* self = Owner(h);
  if (!self) return MNG_FALSE;
  return self->OnWriteData(pBuffer, nLength, pWritten) ? MNG_TRUE : MNG_FALSE;
}
mng_bool MNG_DECL LibProcessHeader(mng_handle h, mng_uint32 nWidth, mng_uint32 nHeight) {
  CMngMgr* self = Owner(h);
  return self && self->OnProcessHeader(nWidth, nHeight) ? MNG_TRUE : MNG_FALSE;
}
mng_ptr MNG_DECL LibGetCanvasLine(mng_handle h, mng_uint32 nLine) {
  CMngMgr* self = Owner(h);
  return self ? self->OnGetCanvasLine(nLine) : nullptr;
}
mng_bool MNG_DECL LibRefresh(mng_handle h, mng_uint32, mng_uint32, mng_uint32, mng_uint32) {
  CMngMgr* self = Owner(h);
  return self && self->OnRefresh() ? MNG_TRUE : MNG_FALSE;
}
mng_uint32 MNG_DECL LibGetTickCount(mng_handle) { return TickCount(); }
mng_bool MNG_DECL LibSetTimer(mng_handle h, mng_uint32 nMilliseconds) {
  CMngMgr* self = Owner(h);
  return self && self->OnSetTimer(nMilliseconds) ? MNG_TRUE : MNG_FALSE;
}
mng_bool MNG_DECL LibError(mng_handle h, mng_int32 nCode, mng_int8 nSeverity, mng_chunkid nChunk, mng_uint32,
                           mng_int32 nExtra1, mng_int32 nExtra2, mng_pchar pText) {
  CMngMgr* self = Owner(h);
  if (self) self->OnError(nCode, nSeverity, nChunk, nExtra1, nExtra2, pText);
  return MNG_FALSE;  // the read ends
}

}  // namespace

// ---------------------------------------------------------------------------
// The file as libmng gets it. In the recorder's layout each DEFI's object
// id becomes 0 (with its CRC made again when it was right); everything else
// passes unchanged. Chunks are followed by their headers only, so the
// reader holds at most one DEFI at a time.

struct CMngMgr::TChunkReader {
  std::FILE* pFile = nullptr;
  bool bRewrite = false;
  bool bSignatureDone = false;
  std::uint64_t nPassThrough = 0;  // bytes of the current chunk still to pass on unchanged
  std::array<std::uint8_t, 8 + kMaxDefiLength + 4> pending{};
  std::size_t nPending = 0;
  std::size_t nPendingPos = 0;
  bool bEnd = false;

  // The file is read to its end and nothing is left to hand out.
  bool AtEnd() const { return bEnd && nPendingPos >= nPending; }

  void Restart() {
    bSignatureDone = false;
    nPassThrough = 0;
    nPending = nPendingPos = 0;
    bEnd = false;
  }

  // Reads up to n bytes of the stream; returns how many (fewer only at the
  // end of the file).
  std::size_t Read(std::uint8_t* pOut, std::size_t n) {
    std::size_t nDone = 0;
    while (nDone < n) {
      if (nPendingPos < nPending) {
        const std::size_t k = std::min(n - nDone, nPending - nPendingPos);
        std::memcpy(pOut + nDone, pending.data() + nPendingPos, k);
        nPendingPos += k;
        nDone += k;
        continue;
      }
      if (bEnd) break;
      if (!bRewrite) {
        const std::size_t k = std::fread(pOut + nDone, 1, n - nDone, pFile);
        nDone += k;
        if (k == 0) bEnd = true;
        continue;
      }
      if (!bSignatureDone) {
        bSignatureDone = true;
        nPassThrough = 8;
      }
      if (nPassThrough > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(nPassThrough, n - nDone));
        const std::size_t k = std::fread(pOut + nDone, 1, want, pFile);
        nDone += k;
        nPassThrough -= k;
        if (k < want) bEnd = true;
        continue;
      }
      // A chunk starts: its length and type.
      nPending = std::fread(pending.data(), 1, 8, pFile);
      nPendingPos = 0;
      if (nPending < 8) {
        bEnd = true;
        continue;
      }
      const std::uint32_t nLength = ReadBe32(pending.data());
      const std::uint32_t nType = ReadBe32(pending.data() + 4);
      if (nType == kDefi && nLength >= 2 && nLength <= kMaxDefiLength) {
        const std::size_t nRest = nLength + 4;
        const std::size_t k = std::fread(pending.data() + 8, 1, nRest, pFile);
        nPending += k;
        if (k < nRest) {
          bEnd = true;
          continue;
        }
        const std::uint32_t nStored = ReadBe32(pending.data() + 8 + nLength);
        if (Crc(pending.data() + 4, 4 + nLength) == nStored) {
          pending[8] = 0;
          pending[9] = 0;
          WriteBe32(pending.data() + 8 + nLength, Crc(pending.data() + 4, 4 + nLength));
        }
      } else {
        nPassThrough = static_cast<std::uint64_t>(nLength) + 4;
      }
    }
    return nDone;
  }
};

// ---------------------------------------------------------------------------

bool CanWriteFormat(TPixelFormat ePixelFormat, std::int32_t nWidth, std::int32_t nHeight, int nChannel,
                    std::string* pMessage) {
  const auto refuse = [&](const std::string& why) {
    if (pMessage) *pMessage = "MNG recording of channel " + std::to_string(nChannel) + ": " + why;
    return false;
  };
  if (ePixelFormat != PF_RGB24 && ePixelFormat != PF_RGB32)
    return refuse("its frames (pixel format " + std::to_string(static_cast<int>(ePixelFormat)) +
                  ") are not 24- or 32-bit RGB; nothing was recorded");
  if (nWidth <= 0 || nHeight <= 0 || nWidth > kMaxCanvasSide || nHeight > kMaxCanvasSide ||
      static_cast<std::int64_t>(nWidth) * nHeight * 4 > kMaxFrameBufferBytes)
    return refuse("its frame size " + std::to_string(nWidth) + " x " + std::to_string(nHeight) +
                  " cannot be written; nothing was recorded");
  return true;
}

void FrameToRows(const std::uint8_t* pFrame, std::int32_t nStride, TPixelFormat ePixelFormat,
                 std::int32_t nWidth, std::int32_t nHeight, std::uint8_t* pOut) {
  const int nStep = ePixelFormat == PF_RGB32 ? 4 : 3;
  const std::size_t nRowBytes = 1 + 3 * static_cast<std::size_t>(nWidth);
  for (std::int32_t y = 0; y < nHeight; ++y) {
    // The top row of the picture is the frame's last.
    const std::uint8_t* s = pFrame + static_cast<std::ptrdiff_t>(nHeight - 1 - y) * nStride;
    std::uint8_t* d = pOut + static_cast<std::size_t>(y) * nRowBytes;
    *d++ = 0;
    for (std::int32_t x = 0; x < nWidth; ++x, s += nStep, d += 3) {
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
    }
  }
}

// ---------------------------------------------------------------------------

CMngMgr::CMngMgr() : m_pFrameRequest(std::make_unique<TDataFrame>()), m_pBudget(std::make_unique<TBudget>()) {
  Reset();
}

CMngMgr::~CMngMgr() {
  Close();
  m_bBusy.store(false);
}

void CMngMgr::Reset() {
  m_pRequest = nullptr;
  m_Params = TMngParams{};
  m_Notice = TMediaFrameNotice{};
  *m_pFrameRequest = TDataFrame{};
  m_pFrameRequest->pData = reinterpret_cast<std::uint8_t*>(&m_Notice);
  m_Sender = TMediaSender{};
  m_nTimer = 0;
  m_nCanvasWidth = m_nCanvasHeight = m_nCanvasStride = m_nCanvasBits = 0;
  m_nRefreshCount.store(-1);
  m_nRefreshTotal = 0;
  m_bDeliveryFailed = false;
  m_nFrameCount.store(0);
  m_nPositionMs.store(0);
  m_nElapsedMs = 0;
  m_Info = TMngStreamInfo{};
  m_bHeaderSeen = false;
  m_CanvasHeader = Dib::TBitmapInfoHeader{};
  m_bSingleFrame = true;
  m_bInfoSent = false;
  m_nFramesDelivered.store(0);
  m_nState.store(MNG_STATE_IDLE);
  m_nSavedState.store(MNG_STATE_IDLE);
  m_bStopAsked.store(false);
  m_bDeliver = true;
  m_nFileSize.store(0);
  m_nBytesRead.store(0);
  m_nSeekMode.store(MNG_SEEK_NONE);
  m_nSeekTargetFrame.store(-1);
  m_nSeekTargetByte.store(-1);
  m_bSeekPending.store(false);
  m_bSeeking.store(false);
  m_bMarkNextFrame.store(false);
  m_nWriterStep = MNG_WRITE_NONE;
  m_nFramesWritten = 0;
  m_nNextObjectId = -1;
  m_bRecorderLayout = false;
  m_Error = TMngError{};
  m_bLibraryError = false;
}

void CMngMgr::Close() {
  if (m_hMng) {
    TBudgetScope scope(m_pBudget.get());
    mng_handle h = static_cast<mng_handle>(m_hMng);
    mng_cleanup(&h);
    m_hMng = nullptr;
  }
  if (m_pFile) {
    if (m_bOwnFile) std::fclose(m_pFile);
    m_pFile = nullptr;
  }
  m_pChunks.reset();
  FreeFrameBuffer(&m_Canvas);
  FreeScanlineBuffer(&m_Rows);
  std::vector<std::uint8_t>().swap(m_Compressed);
}

std::uint64_t CMngMgr::PeakLibraryMemory() const { return m_pBudget->nPeak.load(); }

void CMngMgr::Fail(std::int32_t nCode, std::string text) {
  if (m_bLibraryError) return;  // the first reason is the one reported
  m_bLibraryError = true;
  m_Error.nCode = nCode;
  m_Error.text = std::move(text);
}

void CMngMgr::RaiseOwnerFlags() {
  if (m_Params.pStopFlag) m_Params.pStopFlag->store(true);
  if (m_Params.pEndFlag) m_Params.pEndFlag->store(true);
}

bool CMngMgr::StopRaised() const { return m_Params.pStopFlag && m_Params.pStopFlag->load(); }

bool CMngMgr::SleepFor(int nMilliseconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
  for (;;) {
    if (StopRaised() || m_bStopAsked.load() || m_bSeekPending.load()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return true;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(kSleepSliceMs)));
  }
}

// ---------------------------------------------------------------------------
// Reading

bool CMngMgr::Run(TMediaRequest* pRequest) { return RunRequest(pRequest, nullptr, true); }

bool CMngMgr::RunMemory(TMediaRequest* pRequest, const std::uint8_t* pData, std::size_t nSize) {
  if (!pData || nSize == 0) return RunRequest(pRequest, nullptr, false);
  std::FILE* pFile = ::fmemopen(const_cast<std::uint8_t*>(pData), nSize, "rb");
  return RunRequest(pRequest, pFile, false);
}

bool CMngMgr::RunRequest(TMediaRequest* pRequest, std::FILE* pFile, bool bPathNeeded) {
  if (m_bBusy.exchange(true)) {
    if (pRequest) FailRequest(*pRequest, MEDIA_ERR_MNG_BUSY);
    if (pFile) std::fclose(pFile);
    return false;
  }
  Close();
  Reset();
  const auto* pParams =
      pRequest ? static_cast<const TMngParams*>(RequestParams(*pRequest, MEDIA_REQ_MNG)) : nullptr;
  const bool bPath = pRequest && pRequest->pPath && !pRequest->pPath->empty();
  if (!pParams || (bPathNeeded && !bPath)) {
    if (pFile) std::fclose(pFile);
    if (pRequest) pRequest->bSuccess = false;
    m_bBusy.store(false);
    return false;
  }
  TMediaRequest& request = *pRequest;
  m_pRequest = pRequest;
  m_Params = *pParams;
  m_Sender = TMediaSender{m_Params.nProcId, m_Params.eSenderKind, m_Params.ePurpose, m_Params.pContext};
  request.bSuccess = false;

  bool bResult = false;
  if (bPathNeeded) {
    // Only a regular file: a FIFO or a device never blocks the reader.
    pFile = platform::OpenRegularFileStream(*request.pPath);
    if (!pFile) {
      FailRequest(request, MEDIA_ERR_MNG_OPEN_INPUT);
      Fail(0, "The MNG file " + *request.pPath + " cannot be opened.");
    }
  } else if (!pFile) {
    FailRequest(request, MEDIA_ERR_MNG_OPEN_INPUT);
    Fail(0, "The MNG data cannot be read.");
  }
  if (pFile) {
    m_pFile = pFile;
    m_bOwnFile = true;
    std::int64_t nSize = 0;
    if (FileUtils::GetStdioFileSize(pFile, nSize)) m_nFileSize.store(nSize);
    bResult = StartRead(request);
  }
  if (!bResult && m_bLibraryError && !m_Error.text.empty()) {
    Codecs::TCallMessages messages;
    messages.AddError("MNG", m_Error.text);
    messages.Show();
  }
  if (bResult) SucceedRequest(request);
  RaiseOwnerFlags();
  Close();
  m_bBusy.store(false);
  return bResult;
}

bool CMngMgr::ScanChunks() {
  // The chunk headers, once: which chunks the file has. The file is read
  // from its start again afterwards.
  std::uint8_t signature[8] = {};
  bool bMng = std::fread(signature, 1, 8, m_pFile) == 8 && std::memcmp(signature, kMngSignature, 8) == 0;
  bool bDefi = false;
  bool bObjects = false;
  if (bMng) {
    const std::int64_t nSize = m_nFileSize.load();
    std::int64_t nPos = 8;
    std::uint8_t header[8];
    while (nPos + 12 <= nSize && std::fread(header, 1, 8, m_pFile) == 8) {
      const std::uint32_t nLength = ReadBe32(header);
      const std::uint32_t nType = ReadBe32(header + 4);
      if (nType == kDefi) bDefi = true;
      for (const std::uint32_t nObject : kObjectChunks)
        if (nType == nObject) bObjects = true;
      if (bObjects || nType == kMend) break;
      nPos += 12 + static_cast<std::int64_t>(nLength);
      if (::fseeko(m_pFile, static_cast<off_t>(nPos), SEEK_SET) != 0) break;
    }
  }
  m_bRecorderLayout = bMng && bDefi && !bObjects;
  return ::fseeko(m_pFile, 0, SEEK_SET) == 0;
}

bool CMngMgr::ApplyReadSettings() {
  mng_handle h = static_cast<mng_handle>(m_hMng);
  bool ok = mng_set_srgb(h, MNG_TRUE) == MNG_NOERROR;
  ok = ok && mng_set_bgcolor(h, 0xFFFF, 0xFFFF, 0xFFFF) == MNG_NOERROR;
  ok = ok && mng_set_usebkgd(h, MNG_TRUE) == MNG_NOERROR;
  ok = ok && mng_set_storechunks(h, MNG_FALSE) == MNG_NOERROR;
  ok = ok && mng_set_suspensionmode(h, MNG_FALSE) == MNG_NOERROR;
  ok = ok && mng_set_maxcanvassize(h, kMaxCanvasSide, kMaxCanvasSide) == MNG_NOERROR;
  if (m_bRecorderLayout) ok = ok && mng_set_cacheplayback(h, MNG_FALSE) == MNG_NOERROR;
  return ok;
}

bool CMngMgr::InstallCallbacks(bool bWriting) {
  mng_handle h = static_cast<mng_handle>(m_hMng);
  bool ok = mng_setcb_openstream(h, LibOpenStream) == MNG_NOERROR;
  ok = ok && mng_setcb_closestream(h, LibCloseStream) == MNG_NOERROR;
  ok = ok && mng_setcb_errorproc(h, LibError) == MNG_NOERROR;
  if (bWriting) return ok && mng_setcb_writedata(h, LibWriteData) == MNG_NOERROR;
  ok = ok && mng_setcb_readdata(h, LibReadData) == MNG_NOERROR;
  ok = ok && mng_setcb_processheader(h, LibProcessHeader) == MNG_NOERROR;
  ok = ok && mng_setcb_getcanvasline(h, LibGetCanvasLine) == MNG_NOERROR;
  ok = ok && mng_setcb_refresh(h, LibRefresh) == MNG_NOERROR;
  ok = ok && mng_setcb_gettickcount(h, LibGetTickCount) == MNG_NOERROR;
  ok = ok && mng_setcb_settimer(h, LibSetTimer) == MNG_NOERROR;
  return ok;
}

bool CMngMgr::StartRead(TMediaRequest& request) {
  switch (m_Params.ePurpose) {
    case SRC_GRAB_FRAME:
    case SRC_GRAB_FRAME_RGB24: m_bSingleFrame = true; break;
    case SRC_STREAM: m_bSingleFrame = false; break;
    default: Fail(0, "The MNG reader was asked for something it does not do."); return false;
  }
  (void)request;
  if (!ScanChunks()) {
    Fail(0, "The MNG file cannot be read.");
    return false;
  }
  m_pChunks = std::make_unique<TChunkReader>();
  m_pChunks->pFile = m_pFile;
  m_pChunks->bRewrite = m_bRecorderLayout;

  m_pBudget->nLimit = m_nBudgetLimit > 0 ? m_nBudgetLimit : static_cast<std::uint64_t>(kMaxFrameBufferBytes);
  m_pBudget->nUsed.store(0);
  m_pBudget->nPeak.store(0);
  m_pBudget->bExceeded.store(false);
  TBudgetScope scope(m_pBudget.get());
  m_hMng = mng_initialize(this, LibAlloc, LibFree, MNG_NULL);
  if (!m_hMng) {
    Fail(0, "The MNG library cannot start.");
    return false;
  }
  m_nState.store(MNG_STATE_STOPPED);
  if (!ApplyReadSettings() || !InstallCallbacks(false)) {
    Fail(0, "The MNG library cannot be set up.");
    return false;
  }
  m_bDeliver = true;
  DisplayLoop();
  if (m_pBudget->bExceeded.load()) {
    m_bLibraryError = false;  // the budget is the reason, not libmng's "out of memory"
    Fail(kErrorBudget, "The MNG file needs more memory than a picture may take (" +
                           std::to_string(m_pBudget->nLimit >> 20) + " MB); it was not read to its end.");
  }
  if (m_bLibraryError) return false;
  // Stopped by the owner before anything came: no failure.
  if (m_nRefreshTotal > 0 || StopRaised() || m_bStopAsked.load()) return true;
  Fail(0, "The MNG file holds no picture.");
  return false;
}

namespace {
bool Waiting(int rc) { return rc == MNG_NEEDMOREDATA || rc == MNG_NEEDTIMERWAIT; }
}  // namespace

int CMngMgr::DisplayLoop() {
  mng_handle h = static_cast<mng_handle>(m_hMng);
  const auto noteCode = [this](int rc) {
    if (rc != MNG_NOERROR && !Waiting(rc) && !m_bLibraryError)
      Fail(rc, "The MNG file is damaged or cannot be decoded (libmng error " + std::to_string(rc) + ").");
  };
  const auto finish = [this](int nResult) {
    m_nState.store(MNG_STATE_STOPPED);
    return nResult;
  };
  {
    std::int32_t expected = MNG_STATE_STOPPED;
    m_nState.compare_exchange_strong(expected, MNG_STATE_RUNNING);
  }
  if (m_Params.ePurpose == SRC_STREAM && m_bPaced) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (std::chrono::steady_clock::now() < end) {
      if (StopRaised() || m_bStopAsked.load()) return finish(1);
      std::this_thread::sleep_for(std::chrono::milliseconds(kSleepSliceMs));
    }
  }
  // libmng asks for more data at the end of a file cut at a chunk's
  // boundary: without suspension there is none to come.
  const auto truncated = [this](int rc) {
    if (rc != MNG_NEEDMOREDATA || !m_pChunks->AtEnd()) return false;
    if (!(m_bSingleFrame && m_nFramesDelivered.load() > 0))
      Fail(MNG_UNEXPECTEDEOF, "The MNG file is truncated: it ends before its last chunk.");
    return true;
  };
  int rc = mng_readdisplay(h);
  if (!Waiting(rc)) {
    noteCode(rc);
    return finish(1);
  }
  if (truncated(rc)) return finish(0);
  if (m_Params.pSeekRequest && m_Params.pSeekRequest->load() && m_Params.pSeekDenominator &&
      m_Params.pSeekDenominator->load() != 0) {
    m_Params.pSeekRequest->store(false);
    SeekToFraction(m_Params.pSeekNumerator ? m_Params.pSeekNumerator->load() : 0,
                   m_Params.pSeekDenominator->load());
  }
  if (!m_bHeaderSeen) return finish(1);
  if (!mng_status_reading(h)) return finish(0);
  for (;;) {
    if (m_bSeekPending.exchange(false)) {
      rc = BeginSeek();
      if (rc == kErrorSeekFailed) {
        Fail(rc, "The MNG file cannot be read again from its start.");
        break;
      }
      if (!Waiting(rc) && rc != MNG_NOERROR) {
        noteCode(rc);
        break;
      }
      if (truncated(rc)) break;
    }
    const std::int32_t nState = m_nState.load();
    int nWait = 100;
    if (m_bSingleFrame) {
      nWait = Waiting(rc) ? 0 : 100;
    } else if (nState == MNG_STATE_RUNNING) {
      if (rc == MNG_NEEDMOREDATA)
        nWait = 0;
      else if (rc == MNG_NEEDTIMERWAIT)
        nWait = m_bPaced ? static_cast<int>(std::min<std::uint32_t>(m_nTimer, 60000)) : 0;
      else
        nWait = 100;
    } else if (nState == MNG_STATE_SEEKING) {
      nWait = Waiting(rc) ? 0 : 100;
    }
    if (nWait > 0) SleepFor(nWait);
    if (!mng_status_reading(h) || StopRaised() || m_bStopAsked.load() ||
        (m_bSingleFrame && m_nFramesDelivered.load() > 0) || m_nState.load() == MNG_STATE_STOPPED)
      break;
    const std::int32_t nNow = m_nState.load();
    if (nNow == MNG_STATE_RUNNING || nNow == MNG_STATE_SEEKING) {
      rc = mng_display_resume(h);
      if (!Waiting(rc)) {
        noteCode(rc);
        break;
      }
      if (truncated(rc)) break;
    }
  }
  return finish(0);
}

int CMngMgr::BeginSeek() {
  if (m_nState.load() == MNG_STATE_SEEKING) return 1;
  // Seeking is marked before the state says so: a request that sees state
  // 6 finds the seek running.
  m_bSeeking.store(true);
  m_nSavedState.store(m_nState.load());
  m_nState.store(MNG_STATE_SEEKING);
  m_bDeliver = false;
  m_bMarkNextFrame.store(true);
  if (::fseeko(m_pFile, 0, SEEK_SET) != 0) return kErrorSeekFailed;
  m_pChunks->Restart();
  m_nBytesRead.store(0);
  m_nFramesDelivered.store(0);
  m_nRefreshCount.store(-1);
  m_nElapsedMs = 0;
  mng_handle h = static_cast<mng_handle>(m_hMng);
  if (mng_reset(h) != MNG_NOERROR) return kErrorSeekFailed;
  if (!ApplyReadSettings()) return kErrorSeekFailed;
  return mng_readdisplay(h);
}

void CMngMgr::EndSeek() {
  m_bDeliver = true;
  m_bSeeking.store(false);
  std::int32_t expected = MNG_STATE_SEEKING;
  m_nState.compare_exchange_strong(expected, m_nSavedState.load());  // a stop meanwhile stays
}

bool CMngMgr::SeekToFraction(std::int32_t nNumerator, std::int32_t nDenominator) {
  const bool bCarriedOut = !(m_bSeeking.load() || nDenominator == 0 || nNumerator == nDenominator);
  if (!bCarriedOut) {
    m_bMarkNextFrame.store(true);
    return true;
  }
  const std::int32_t nMode = m_nSeekMode.load();
  if (nMode == MNG_SEEK_NONE) {
    m_bMarkNextFrame.store(true);
    return false;
  }
  float fraction = static_cast<float>(nNumerator) / static_cast<float>(nDenominator);
  if (!(fraction >= 0.0f)) fraction = 0.0f;  // a negative share (or NaN) is the start
  if (fraction > 1.0f) fraction = 1.0f;
  if (nMode == MNG_SEEK_BY_FRAME) {
    m_nSeekTargetFrame.store(static_cast<std::int64_t>(static_cast<float>(m_nFrameCount.load()) * fraction));
  } else {
    m_nSeekTargetByte.store(static_cast<std::int64_t>(static_cast<float>(m_nFileSize.load()) * fraction));
  }
  m_bSeekPending.store(true);
  return true;
}

int CMngMgr::Pause() {
  // Only a running display is frozen; the loop then stops calling libmng.
  std::int32_t expected = MNG_STATE_RUNNING;
  return m_nState.compare_exchange_strong(expected, MNG_STATE_PAUSED) ? 0 : 1;
}

bool CMngMgr::Resume() {
  std::int32_t expected = MNG_STATE_PAUSED;
  return m_nState.compare_exchange_strong(expected, MNG_STATE_RUNNING);
}

void CMngMgr::Stop() {
  if (!m_bBusy.load()) return;
  m_bStopAsked.store(true);
  m_nState.store(MNG_STATE_STOPPED);
}

// --- callbacks --------------------------------------------------------------

bool CMngMgr::OnReadData(void* pBuffer, std::uint32_t nLength, std::uint32_t* pRead) {
  const std::size_t nGot = m_pChunks ? m_pChunks->Read(static_cast<std::uint8_t*>(pBuffer), nLength) : 0;
  if (pRead) *pRead = static_cast<std::uint32_t>(nGot);
  const std::int64_t nTotal =
      m_nBytesRead.fetch_add(static_cast<std::int64_t>(nGot)) + static_cast<std::int64_t>(nGot);
  if (m_bSeeking.load() && m_nSeekMode.load() == MNG_SEEK_BY_BYTE && nTotal >= m_nSeekTargetByte.load())
    EndSeek();
  return true;
}

bool CMngMgr::OnWriteData(const void* pBuffer, std::uint32_t nLength, std::uint32_t* pWritten) {
  const std::size_t nDone = m_pFile ? std::fwrite(pBuffer, 1, nLength, m_pFile) : 0;
  if (pWritten) *pWritten = static_cast<std::uint32_t>(nDone);
  return nDone == nLength;
}

bool CMngMgr::PrepareCanvas(std::int32_t nWidth, std::int32_t nHeight) {
  const TPixelFormat eFormat = m_pRequest->ePixelFormat;
  if (!(m_Canvas.pBuffer && m_Canvas.ePixelFormat == eFormat && m_Canvas.nWidth == nWidth &&
        m_Canvas.nHeight == nHeight && m_Canvas.nRowAlignment == 4 && m_Canvas.nHeightAlignment == 1)) {
    FreeFrameBuffer(&m_Canvas);
    m_Canvas.ePixelFormat = eFormat;
    m_Canvas.nWidth = nWidth;
    m_Canvas.nHeight = nHeight;
    m_Canvas.nRowAlignment = 4;
    m_Canvas.nHeightAlignment = 1;
    if (!AllocFrameBuffer(&m_Canvas) || !m_Canvas.pBuffer) {
      FreeFrameBuffer(&m_Canvas);
      return false;
    }
  }
  m_CanvasHeader = Dib::TBitmapInfoHeader{};
  m_CanvasHeader.biSize = 40;
  m_CanvasHeader.biWidth = nWidth;
  m_CanvasHeader.biHeight = nHeight;
  m_CanvasHeader.biPlanes = 1;
  m_CanvasHeader.biBitCount = static_cast<std::uint16_t>(m_Canvas.nBitsPerPixel);
  m_CanvasHeader.biCompression = Dib::BI_RGB;
  m_CanvasHeader.biSizeImage = static_cast<std::uint32_t>(m_Canvas.nSize);
  return true;
}

bool CMngMgr::OnProcessHeader(std::uint32_t nWidth, std::uint32_t nHeight) {
  if (nWidth == 0 || nHeight == 0 || nWidth > static_cast<std::uint32_t>(kMaxCanvasSide) ||
      nHeight > static_cast<std::uint32_t>(kMaxCanvasSide)) {
    Fail(kMngErrorImageTooLarge, "The MNG picture's size " + std::to_string(nWidth) + " x " +
                                     std::to_string(nHeight) + " is outside 1 .. " +
                                     std::to_string(kMaxCanvasSide) + " pixels a side.");
    return false;
  }
  const TPixelFormat eTarget = m_pRequest->ePixelFormat;
  std::uint32_t nStyle = 0;
  std::int64_t nBytesPerPixel = 0;
  if (eTarget == PF_RGB24) {
    nStyle = MNG_CANVAS_BGR8;
    nBytesPerPixel = 3;
  } else if (eTarget == PF_RGB32) {
    nStyle = MNG_CANVAS_BGRA8;
    nBytesPerPixel = 4;
  } else {
    Fail(0, "The MNG reader cannot deliver pixel format " + std::to_string(static_cast<int>(eTarget)) + ".");
    return false;
  }
  const std::int64_t nStride = ((static_cast<std::int64_t>(nWidth) * nBytesPerPixel + 3) / 4) * 4;
  if (nStride * static_cast<std::int64_t>(nHeight) > kMaxFrameBufferBytes ||
      static_cast<std::uint64_t>(nStride * static_cast<std::int64_t>(nHeight)) > m_pBudget->nLimit) {
    Fail(kMngErrorImageTooLarge, "The MNG picture of " + std::to_string(nWidth) + " x " +
                                     std::to_string(nHeight) + " pixels is larger than a picture may be.");
    return false;
  }
  if (!PrepareCanvas(static_cast<std::int32_t>(nWidth), static_cast<std::int32_t>(nHeight))) {
    Fail(kErrorBudget, "There is not enough memory for the MNG picture of " + std::to_string(nWidth) + " x " +
                           std::to_string(nHeight) + " pixels.");
    return false;
  }
  mng_handle h = static_cast<mng_handle>(m_hMng);
  if (mng_set_canvasstyle(h, nStyle) != MNG_NOERROR) return false;
  m_nCanvasWidth = static_cast<std::int32_t>(nWidth);
  m_nCanvasHeight = static_cast<std::int32_t>(nHeight);
  m_nCanvasStride = m_Canvas.nStride;
  m_nCanvasBits = m_Canvas.nBitsPerPixel;
  const auto clampInt = [](mng_uint32 v) {
    return static_cast<std::int32_t>(std::min<mng_uint32>(v, std::numeric_limits<std::int32_t>::max()));
  };
  m_Info.nWidth = m_nCanvasWidth;
  m_Info.nHeight = m_nCanvasHeight;
  m_Info.nTicksPerSecond = clampInt(mng_get_ticks(h));
  m_Info.nLayerCount = clampInt(mng_get_layercount(h));
  m_Info.nFrameCount = clampInt(mng_get_framecount(h));
  m_Info.nPlayTime = clampInt(mng_get_playtime(h));
  m_Info.nSimplicity = clampInt(mng_get_simplicity(h));
  m_nFrameCount.store(m_Info.nFrameCount);
  m_nSeekMode.store(m_Info.nFrameCount != 0 ? MNG_SEEK_BY_FRAME : MNG_SEEK_BY_BYTE);
  if (m_Params.ePurpose == SRC_GRAB_FRAME && !m_Params.pCallback && eTarget == PF_RGB32 &&
      m_pRequest->pFrameBuffer) {
    TFrameBuffer& frame = *m_pRequest->pFrameBuffer;
    if (!Codecs::PrepareFrame(&frame, PF_RGB32, m_nCanvasWidth, m_nCanvasHeight)) {
      Fail(kErrorBudget, "There is not enough memory for the MNG picture.");
      return false;
    }
    m_pRequest->nWidth = m_nCanvasWidth;
    m_pRequest->nHeight = m_nCanvasHeight;
  }
  m_bHeaderSeen = true;
  return true;
}

void* CMngMgr::OnGetCanvasLine(std::uint32_t nLine) {
  if (!m_Canvas.pBuffer || nLine >= static_cast<std::uint32_t>(m_nCanvasHeight)) return nullptr;
  return m_Canvas.pBuffer +
         static_cast<std::ptrdiff_t>(m_nCanvasHeight - 1 - static_cast<std::int32_t>(nLine)) *
             m_nCanvasStride;
}

bool CMngMgr::OnRefresh() {
  const std::int64_t nCount = m_nRefreshCount.fetch_add(1) + 1;
  ++m_nRefreshTotal;
  if (m_bSeeking.load() && m_nSeekMode.load() == MNG_SEEK_BY_FRAME && nCount >= m_nSeekTargetFrame.load())
    EndSeek();
  m_nPositionMs.store(m_nElapsedMs);
  if (m_bDeliver && !DeliverFrame()) m_bDeliveryFailed = true;
  return true;
}

bool CMngMgr::OnSetTimer(std::uint32_t nMilliseconds) {
  m_nTimer = nMilliseconds;
  m_nElapsedMs += nMilliseconds;
  return true;
}

bool CMngMgr::OnError(std::int32_t nCode, std::int32_t /*nSeverity*/, std::uint32_t nChunk,
                      std::int32_t nExtra1, std::int32_t nExtra2, const char* pText) {
  std::string text = "The MNG file is damaged or cannot be decoded";
  if (pText && *pText) text += ": " + std::string(pText);
  text += " (libmng error " + std::to_string(nCode);
  if (nChunk != 0) {
    char name[5] = {static_cast<char>(nChunk >> 24), static_cast<char>(nChunk >> 16),
                    static_cast<char>(nChunk >> 8), static_cast<char>(nChunk), 0};
    bool bPrintable = true;
    for (int i = 0; i < 4; ++i)
      if (name[i] < 0x20 || name[i] > 0x7E) bPrintable = false;
    if (bPrintable) text += std::string(" in chunk ") + name;
  }
  if (nExtra1 != 0 || nExtra2 != 0) text += ", " + std::to_string(nExtra1) + "/" + std::to_string(nExtra2);
  text += ").";
  Fail(nCode, std::move(text));
  return false;
}

bool CMngMgr::DeliverFrame() {
  if (StopRaised()) return false;
  if (m_Params.pCallback) {
    if (m_bSingleFrame && m_nFramesDelivered.load() > 0) return false;
    if (!m_bInfoSent) {
      m_bInfoSent = true;
      std::int32_t values[7] = {m_Info.nWidth,      m_Info.nHeight,     m_Info.nTicksPerSecond,
                                m_Info.nLayerCount, m_Info.nFrameCount, m_Info.nPlayTime,
                                m_Info.nSimplicity};
      m_Params.pCallback(m_Params.pContext, MEDIA_NOTIFY_STREAM_INFO, &m_Sender, values);
    }
    m_Notice = TMediaFrameNotice{};
    m_Notice.ePixelFormat = m_nCanvasBits == 32 ? PF_RGB32 : PF_RGB24;
    m_Notice.nWidth = m_nCanvasWidth;
    m_Notice.nHeight = m_nCanvasHeight;
    m_Notice.pRgbData = m_Canvas.pBuffer;
    m_Notice.nRgbSize = m_Canvas.nSize;
    m_Notice.pHeader = &m_CanvasHeader;
    m_Notice.pFrameRecord = &m_Canvas;
    m_Notice.nFrameNumber = std::max<std::int64_t>(0, m_nRefreshCount.load());
    m_Notice.bFileIndex = true;
    m_Notice.bDiscontinuity = m_bMarkNextFrame.exchange(false);
    m_Params.pCallback(m_Params.pContext, MEDIA_NOTIFY_FRAME, &m_Sender, &m_Notice);
  } else {
    if (m_Params.ePurpose == SRC_GRAB_FRAME && m_pRequest->pFrameBuffer) {
      TFrameBuffer& frame = *m_pRequest->pFrameBuffer;
      if (frame.pBuffer && frame.ePixelFormat == PF_RGB32 && frame.nWidth == m_nCanvasWidth &&
          frame.nHeight == m_nCanvasHeight) {
        for (std::int32_t y = 0; y < m_nCanvasHeight; ++y) {
          const std::uint8_t* s = m_Canvas.pBuffer + static_cast<std::ptrdiff_t>(y) * m_Canvas.nStride;
          std::uint8_t* d = frame.pBuffer + static_cast<std::ptrdiff_t>(y) * frame.nStride;
          if (m_nCanvasBits == 32) {
            std::memcpy(d, s, static_cast<std::size_t>(m_nCanvasWidth) * 4);
          } else {
            for (std::int32_t x = 0; x < m_nCanvasWidth; ++x, s += 3, d += 4) {
              d[0] = s[0];
              d[1] = s[1];
              d[2] = s[2];
              d[3] = 0xFF;
            }
          }
        }
        Codecs::DescribeFrame(*m_pRequest, frame);
      }
    }
    if (m_Params.eInfoTag == MEDIA_REQ_MNG_PARAMS && m_Params.pInfo) {
      const std::int32_t values[7] = {m_Info.nWidth,      m_Info.nHeight,     m_Info.nTicksPerSecond,
                                      m_Info.nLayerCount, m_Info.nFrameCount, m_Info.nPlayTime,
                                      m_Info.nSimplicity};
      std::memcpy(m_Params.pInfo, values, sizeof values);
    }
  }
  m_nFramesDelivered.fetch_add(1);
  return true;
}

void RunPreviewRequest(TMediaRequest& request) {
  CMngMgr reader;
  request.bSuccess = reader.Run(&request);
  reader.Close();
}

// ---------------------------------------------------------------------------
// Writing

namespace {

// One deflate state per thread, kept from frame to frame: setting one up
// and ending it for every frame (what compress2 does) takes and frees some
// 270 KB each time, which the allocator gives back to the system and has to
// fault in again. A reset state compresses exactly as a new one.
class CDeflater {
 public:
  CDeflater() { m_bOk = deflateInit(&m_Stream, 9) == Z_OK; }
  ~CDeflater() {
    if (m_bOk) deflateEnd(&m_Stream);
  }
  CDeflater(const CDeflater&) = delete;
  CDeflater& operator=(const CDeflater&) = delete;

  // Compresses nIn bytes into out (room for nOut bytes); nOut becomes the
  // compressed size. False when they do not fit or zlib refuses.
  bool Compress(const std::uint8_t* pIn, std::size_t nIn, std::uint8_t* pOut, std::size_t& nOut) {
    constexpr std::size_t kMost = std::numeric_limits<uInt>::max();
    if (!m_bOk || nIn > kMost || deflateReset(&m_Stream) != Z_OK) return false;
    m_Stream.next_in = const_cast<Bytef*>(pIn);
    m_Stream.avail_in = static_cast<uInt>(nIn);
    m_Stream.next_out = pOut;
    m_Stream.avail_out = static_cast<uInt>(std::min(nOut, kMost));
    if (deflate(&m_Stream, Z_FINISH) != Z_STREAM_END) return false;
    nOut = static_cast<std::size_t>(m_Stream.total_out);
    return true;
  }

 private:
  z_stream m_Stream{};
  bool m_bOk = false;
};

// Frames compressed on worker threads, written in the order they came.
class CCompressPool {
 public:
  struct TJob {
    std::int64_t nSequence = 0;
    std::vector<std::uint8_t> rows;
    std::vector<std::uint8_t> out;
    bool bReady = false;  // rows filled, waiting for a worker
    bool bDone = false;   // compressed
    bool bOk = false;
  };

  CCompressPool(int nWorkers, std::size_t nRowBytes) {
    const int nSlots = nWorkers * 2;
    for (int i = 0; i < nSlots; ++i) {
      auto job = std::make_unique<TJob>();
      job->rows.resize(nRowBytes);
      m_Free.push_back(job.get());
      m_Jobs.push_back(std::move(job));
    }
    for (int i = 0; i < nWorkers; ++i) m_Threads.emplace_back([this] { Work(); });
  }
  ~CCompressPool() {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_bQuit = true;
    }
    m_WorkCv.notify_all();
    for (std::thread& t : m_Threads) t.join();
  }

  // A free job (waits for the oldest to be written when none is free:
  // the caller writes finished jobs with TakeFinished before asking).
  TJob* FreeJob() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Free.empty()) return nullptr;
    TJob* job = m_Free.front();
    m_Free.pop_front();
    return job;
  }
  void Submit(TJob* job, std::int64_t nSequence) {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      job->nSequence = nSequence;
      job->bReady = true;
      job->bDone = false;
      m_Order.push_back(job);
      m_Queue.push_back(job);
    }
    m_WorkCv.notify_one();
  }
  bool Pending() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return !m_Order.empty();
  }
  // The oldest job once compressed (waits when bWait), else null.
  TJob* Oldest(bool bWait) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (m_Order.empty()) return nullptr;
    if (bWait) m_DoneCv.wait(lock, [this] { return m_Order.front()->bDone; });
    if (!m_Order.front()->bDone) return nullptr;
    TJob* job = m_Order.front();
    m_Order.pop_front();
    return job;
  }
  void Release(TJob* job) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    job->bReady = job->bDone = false;
    m_Free.push_back(job);
  }

  std::function<bool(const std::vector<std::uint8_t>&, std::vector<std::uint8_t>&)> compress;

 private:
  void Work() {
    for (;;) {
      TJob* job = nullptr;
      {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_WorkCv.wait(lock, [this] { return m_bQuit || !m_Queue.empty(); });
        if (m_Queue.empty()) return;
        job = m_Queue.front();
        m_Queue.pop_front();
      }
      const bool bOk = compress(job->rows, job->out);
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        job->bOk = bOk;
        job->bDone = true;
      }
      m_DoneCv.notify_all();
    }
  }

  std::mutex m_Mutex;
  std::condition_variable m_WorkCv;
  std::condition_variable m_DoneCv;
  bool m_bQuit = false;
  std::vector<std::unique_ptr<TJob>> m_Jobs;
  std::deque<TJob*> m_Free;
  std::deque<TJob*> m_Queue;  // waiting for a worker
  std::deque<TJob*> m_Order;  // submitted, in sequence order, until written
  std::vector<std::thread> m_Threads;
};

}  // namespace

bool CMngMgr::Write(TMediaRequest* pRequest) {
  if (m_bBusy.exchange(true)) {
    if (pRequest) FailRequest(*pRequest, MEDIA_ERR_MNG_BUSY);
    return false;
  }
  Close();
  Reset();
  const auto* pParams =
      pRequest ? static_cast<const TMngParams*>(RequestParams(*pRequest, MEDIA_REQ_MNG)) : nullptr;
  if (!pParams || !pRequest->pOutputPath || pRequest->pOutputPath->empty()) {
    if (pRequest) pRequest->bSuccess = false;
    m_bBusy.store(false);
    return false;
  }
  TMediaRequest& request = *pRequest;
  m_pRequest = pRequest;
  m_Params = *pParams;
  m_Sender = TMediaSender{m_Params.nProcId, m_Params.eSenderKind, m_Params.ePurpose, m_Params.pContext};
  request.bSuccess = false;
  const int nChannel = m_Params.nProcId >= 45 && m_Params.nProcId <= 48 ? m_Params.nProcId - 45 : 0;
  bool bResult = false;
  std::string message;
  if (m_Params.ePurpose != SRC_WRITE_STREAM) {
    message = "The MNG writer was asked for something it does not do.";
  } else if (!CanWriteFormat(request.ePixelFormat, request.nWidth, request.nHeight, nChannel, &message)) {
    // Refused before any chunk: no file is made.
  } else {
    const std::string& path = *request.pOutputPath;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
    struct stat info {};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
      ::close(fd);
      m_pFile = nullptr;
    } else if (fd >= 0) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      m_pFile = ::fdopen(fd, "wb");
      if (!m_pFile) ::close(fd);
    }
    if (!m_pFile) {
      FailRequest(request, MEDIA_ERR_MNG_CREATE_OUTPUT);
      message = "MNG recording of channel " + std::to_string(nChannel) + ": the file " + path +
                " cannot be created.";
    } else {
      m_bOwnFile = true;
      TBudgetScope scope(m_pBudget.get());
      m_pBudget->nLimit = static_cast<std::uint64_t>(kMaxFrameBufferBytes);
      m_hMng = mng_initialize(this, LibAlloc, LibFree, MNG_NULL);
      if (m_hMng && InstallCallbacks(true)) {
        m_nState.store(MNG_STATE_STOPPED);
        m_Info.nWidth = request.nWidth;
        m_Info.nHeight = request.nHeight;
        m_Info.nTicksPerSecond = 30;
        m_Info.nSimplicity = 7;
        bResult = WriterLoop();
        if (!bResult) {
          message = "MNG recording of channel " + std::to_string(nChannel) + ": the file " + path +
                    " is incomplete (" + std::to_string(m_nFramesWritten) + " frames written)" +
                    (m_Error.text.empty() ? std::string(".") : ": " + m_Error.text);
        }
      } else {
        message =
            "MNG recording of channel " + std::to_string(nChannel + 1) + ": the MNG library cannot start.";
      }
    }
  }
  // The recorder that runs the job reports a failure (LastError).
  if (!bResult && !message.empty()) m_Error.text = message;
  if (bResult) {
    SucceedRequest(request);
  } else if (request.eError == MEDIA_ERR_NONE) {
    request.bSuccess = false;
  }
  RaiseOwnerFlags();
  Close();
  m_bBusy.store(false);
  return bResult;
}

bool CMngMgr::CompressRows(const std::uint8_t* pRows, std::size_t nRows,
                           std::vector<std::uint8_t>& out) const {
  const std::size_t nBound =
      std::max<std::size_t>(compressBound(static_cast<uLong>(nRows)), nRows + nRows / 1000 + 20);
  if (out.size() < nBound) out.resize(nBound);
  thread_local CDeflater deflater;
  std::size_t nOut = out.size();
  if (!deflater.Compress(pRows, nRows, out.data(), nOut)) return false;
  out.resize(nOut);
  return true;
}

bool CMngMgr::WriteHeader() {
  mng_handle h = static_cast<mng_handle>(m_hMng);
  char name[] = "start";
  bool ok = mng_create(h) == MNG_NOERROR;
  ok = ok && mng_putchunk_mhdr(h, static_cast<mng_uint32>(m_Info.nWidth),
                               static_cast<mng_uint32>(m_Info.nHeight), 30, 0, 0, 0, 7) == MNG_NOERROR;
  ok = ok && mng_putchunk_save(h, MNG_TRUE, 0, 0) == MNG_NOERROR;
  ok = ok && mng_putchunk_seek(h, 5, name) == MNG_NOERROR;
  ok = ok && mng_putchunk_term(h, 0, 0, 0, 0) == MNG_NOERROR;
  ok = ok && mng_write(h) == MNG_NOERROR;
  return ok;
}

bool CMngMgr::WriteFrameChunks(const std::uint8_t* pCompressed, std::size_t nCompressed) {
  mng_handle h = static_cast<mng_handle>(m_hMng);
  if (nCompressed > 0x7FFFFFFFu) return false;
  ++m_nNextObjectId;
  // Object ids are 16 bits: they wrap, and every frame is still its own.
  const auto nId = static_cast<mng_uint16>(m_nNextObjectId & 0xFFFF);
  bool ok = mng_putchunk_defi(h, nId, 0, 1, MNG_TRUE, 0, 0, MNG_FALSE, 0, 0, 0, 0) == MNG_NOERROR;
  ok = ok && mng_putchunk_ihdr(h, static_cast<mng_uint32>(m_Info.nWidth),
                               static_cast<mng_uint32>(m_Info.nHeight), 8, 2, 0, 0, 0) == MNG_NOERROR;
  ok = ok && mng_putchunk_idat(h, static_cast<mng_uint32>(nCompressed),
                               const_cast<std::uint8_t*>(pCompressed)) == MNG_NOERROR;
  ok = ok && mng_putchunk_iend(h) == MNG_NOERROR;
  ok = ok && mng_write(h) == MNG_NOERROR;
  if (ok) ++m_nFramesWritten;
  return ok;
}

bool CMngMgr::WriteEnd() {
  mng_handle h = static_cast<mng_handle>(m_hMng);
  bool ok = mng_putchunk_mend(h) == MNG_NOERROR;
  ok = ok && mng_write(h) == MNG_NOERROR;
  ok = ok && std::fflush(m_pFile) == 0;
  return ok;
}

bool CMngMgr::WriterLoop() {
  m_nState.store(MNG_STATE_RUNNING);
  const TMediaRequest& request = *m_pRequest;
  const TPixelFormat eFormat = request.ePixelFormat;
  const std::int32_t nWidth = request.nWidth;
  const std::int32_t nHeight = request.nHeight;
  const std::int32_t nBits = eFormat == PF_RGB32 ? 32 : 24;
  const std::int64_t nFrameStride = ((static_cast<std::int64_t>(nWidth) * nBits + 31) / 32) * 4;
  const std::int64_t nFrameBytes = nFrameStride * nHeight;

  m_Rows = TScanlineBuffer{};
  m_Rows.nColorCode = 5;
  m_Rows.nBitDepth = 8;
  m_Rows.nWidth = nWidth;
  m_Rows.nHeight = nHeight;
  if (!AllocScanlineBuffer(&m_Rows) || !m_Rows.pBuffer) {
    m_Error.text = "there is not enough memory for the rows of a frame";
    m_nState.store(MNG_STATE_STOPPED);
    return false;
  }
  const std::size_t nRowBytes = static_cast<std::size_t>(m_Rows.nSize);

  m_nWriterStep = MNG_WRITE_START;
  bool bOk = WriteHeader();
  if (!bOk) {
    m_Error.text = "the file's header could not be written";
    m_nWriterStep = MNG_WRITE_DONE;
  } else {
    m_nWriterStep = MNG_WRITE_FRAMES;
  }

  const int nWorkers = std::clamp(m_Params.nCompressionWorkers, 1, 8);
  std::unique_ptr<CCompressPool> pool;
  if (nWorkers > 1 && bOk) {
    pool = std::make_unique<CCompressPool>(nWorkers, nRowBytes);
    pool->compress = [this](const std::vector<std::uint8_t>& rows, std::vector<std::uint8_t>& out) {
      return CompressRows(rows.data(), rows.size(), out);
    };
  }
  std::int64_t nLost = 0;
  std::int64_t nSequence = 0;
  const auto writeJob = [&](CCompressPool::TJob* job) {
    if (bOk && !(job->bOk && WriteFrameChunks(job->out.data(), job->out.size()))) {
      bOk = false;
      m_Error.text = "a frame could not be written";
      m_nWriterStep = MNG_WRITE_DONE;
    }
    if (!bOk) ++nLost;
    pool->Release(job);
  };
  const auto writeFinished = [&](bool bWaitAll) {
    while (CCompressPool::TJob* job = pool->Oldest(bWaitAll)) writeJob(job);
  };

  bool bStopSeen = false;
  std::int64_t nAfterStop = 0;
  for (;;) {
    if (!bStopSeen && StopRaised()) bStopSeen = true;
    const std::int32_t nState = m_nState.load();
    if (nState != MNG_STATE_RUNNING || !m_Params.pCallback) {
      if (bStopSeen) break;
      std::this_thread::sleep_for(
          std::chrono::milliseconds(nState == MNG_STATE_RUNNING ? kWriterIdleMs : kWriterPausedMs));
      continue;
    }
    m_Notice = TMediaFrameNotice{};
    *m_pFrameRequest = TDataFrame{};
    m_pFrameRequest->pData = reinterpret_cast<std::uint8_t*>(&m_Notice);
    const bool bGot =
        m_Params.pCallback(m_Params.pContext, MEDIA_NOTIFY_RECORD_FRAME, &m_Sender, m_pFrameRequest.get());
    if (!bGot) {
      if (bStopSeen) break;
      if (pool) writeFinished(false);
      std::this_thread::sleep_for(std::chrono::milliseconds(kWriterIdleMs));
      continue;
    }
    if (bStopSeen && ++nAfterStop > kDrainLimit) {
      ++nLost;
      if (m_Error.text.empty()) m_Error.text = "the recorder still gave frames long after the stop";
      bOk = false;
      break;
    }
    const TMediaFrameNotice& frame = m_Notice;
    const bool bFits = frame.ePixelFormat == eFormat && frame.nWidth == nWidth && frame.nHeight == nHeight &&
                       frame.pRgbData && frame.nRgbSize >= nFrameBytes;
    if (!bOk || !bFits) {
      ++nLost;
      if (bFits == false && m_Error.text.empty())
        m_Error.text = "frames of another size or layout than the recording's were left out";
      bOk = false;
      continue;
    }
    if (!pool) {
      // The frame's slot is given back as soon as its rows are made.
      FrameToRows(frame.pRgbData, static_cast<std::int32_t>(nFrameStride), eFormat, nWidth, nHeight,
                  m_Rows.pBuffer);
      if (!CompressRows(m_Rows.pBuffer, nRowBytes, m_Compressed) ||
          !WriteFrameChunks(m_Compressed.data(), m_Compressed.size())) {
        bOk = false;
        ++nLost;
        if (m_Error.text.empty()) m_Error.text = "a frame could not be written";
        m_nWriterStep = MNG_WRITE_DONE;
      }
      continue;
    }
    CCompressPool::TJob* job = pool->FreeJob();
    while (!job) {
      writeFinished(false);
      job = pool->FreeJob();
      if (!job) {
        if (CCompressPool::TJob* oldest = pool->Oldest(true)) writeJob(oldest);
        job = pool->FreeJob();
      }
    }
    FrameToRows(frame.pRgbData, static_cast<std::int32_t>(nFrameStride), eFormat, nWidth, nHeight,
                job->rows.data());
    pool->Submit(job, nSequence++);
    writeFinished(false);
  }
  if (pool) writeFinished(true);
  pool.reset();

  bool bEnd = false;
  if (m_nWriterStep == MNG_WRITE_FRAMES) {
    m_nWriterStep = MNG_WRITE_FINISH;
    bEnd = WriteEnd();
    if (!bEnd && m_Error.text.empty()) m_Error.text = "the file's end could not be written";
  }
  m_nWriterStep = MNG_WRITE_DONE;
  if (nLost > 0 && m_Error.text.empty()) m_Error.text = std::to_string(nLost) + " frames were lost";
  m_nState.store(MNG_STATE_STOPPED);
  return bOk && bEnd && nLost == 0;
}

}  // namespace MngMgr
