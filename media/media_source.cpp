#include "media/media_source.h"

#include <cstring>

namespace ZarnTypes {

static_assert(SOURCE_STATE_CLOSED == 1 && SOURCE_STATE_LOADED == 2 && SOURCE_STATE_RUNNING == 3);
static_assert(SOURCE_CAT_OTHER_URL == 0 && SOURCE_CAT_FILE == 1 && SOURCE_CAT_FTP == 3 &&
              SOURCE_CAT_HTTP == 4 && SOURCE_CAT_GOPHER == 5 && SOURCE_CAT_DEVICE == 6 &&
              SOURCE_CAT_CLIPBOARD == 7 && SOURCE_CAT_ACQUIRE == 8);
// The format record holds no pointers: its layout is the same everywhere.
static_assert(sizeof(TStreamFormat) == 72 && alignof(TStreamFormat) == 8);
static_assert(offsetof(TStreamFormat, params) == 8 && offsetof(TStreamFormat, nSubKind) == 64);

void TMediaSource::Reset() {
  bOpen = FALSE_;
  eState = SOURCE_STATE_CLOSED;
  bLoaded = FALSE_;
  eStreamType = ST_NULL_STREAM;
  eSourceCategory = SOURCE_CAT_OTHER_URL;
  eFileFormat = TFileFormat{0};
  sPath.clear();
  sOwnerText.clear();
  sDisplayName.clear();
  sDisplayPath.clear();
  nWidth = 0;
  nHeight = 0;
  bRead = FALSE_;
  eFramePixelFormat = TPixelFormat{0};
  eSourcePixelFormat = TPixelFormat{0};
  eDeliveredPixelFormat = TPixelFormat{0};
  nPictureCount = 0;
  nReserved = 0;
  nDeviceCategory = 0;
  nDeviceKind = 0;
  nLast = -1;
}

std::size_t GetStreamFormatParamsSize(std::int32_t streamType, std::int32_t subKind) {
  if (streamType == ST_SYSTEM_DEVICE) return subKind == TStreamFormat::kDefaultSubKind ? 8 : 0;
  if (streamType >= ST_AVI && streamType <= ST_ASF) return 16;
  if (streamType == ST_MNG) return 28;
  if ((streamType >= ST_BMP && streamType <= ST_BMP_48BIT) || streamType == ST_GIF) return 20;
  if (streamType >= ST_JPEG && streamType <= ST_JPC) return 8;
  if (streamType == ST_PNG) return 12;
  if (streamType == ST_TIFF) return 24;
  if (IsYuvType(streamType)) return TStreamFormat::kParamsSize;
  return 0;
}

void TStreamFormat::Reset() {
  eStreamType = TStreamType{0};
  std::memset(params, 0, sizeof params);
  nSubKind = kDefaultSubKind;
}

bool TStreamFormat::SetParams(TStreamType eType, const void* pInfo, std::size_t nInfoSize,
                              std::int32_t nNewSubKind) {
  if (!pInfo) return false;
  const std::size_t keep = GetStreamFormatParamsSize(eType, nNewSubKind);
  if (keep == 0 || nInfoSize < keep) return false;
  Reset();
  std::memcpy(params, pInfo, keep);
  eStreamType = eType;
  nSubKind = nNewSubKind;
  return true;
}

}  // namespace ZarnTypes
