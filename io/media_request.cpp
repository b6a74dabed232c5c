#include "io/media_request.h"

#include <cstring>

namespace ZarnTypes {

// The numbers are shared with other programs' messages and with saved
// settings: they never change.
static_assert(MEDIA_OP_READ == 1 && MEDIA_OP_WRITE_STILL == 2 && MEDIA_OP_RUN_JOB == 3);
static_assert(MEDIA_ERR_READ_JPEG == 5 && MEDIA_ERR_READ_JPEG2000 == 6 && MEDIA_ERR_READ_PNG == 7 &&
              MEDIA_ERR_READ_GIF == 8 && MEDIA_ERR_READ_TIFF == 9);
static_assert(MEDIA_ERR_DSHOW_SESSION == 15 && MEDIA_ERR_MNG_OPEN_INPUT == 17 &&
              MEDIA_ERR_WIA_ACQUIRE == 18 && MEDIA_ERR_WM_JOB == 18);
static_assert(MEDIA_ERR_WRITE_JPEG == 22 && MEDIA_ERR_WRITE_JPEG2000 == 23 && MEDIA_ERR_WRITE_PNG == 24 &&
              MEDIA_ERR_WRITE_GIF == 25 && MEDIA_ERR_WRITE_TIFF == 26 && MEDIA_ERR_MNG_CREATE_OUTPUT == 34);
static_assert(MEDIA_ERR_DSHOW_BUSY == 36 && MEDIA_ERR_WM_JOB_BUSY == 37 && MEDIA_ERR_MNG_BUSY == 38 &&
              MEDIA_ERR_WIA_BUSY == 39);
static_assert(MEDIA_REQ_JPEG2000 == 36876 && MEDIA_REQ_PNG == 36877 && MEDIA_REQ_TIFF == 36879);
static_assert(MEDIA_REQ_DSHOW_SOURCE == 36882 && MEDIA_REQ_DEVICE_CONFIG == 36883 && MEDIA_REQ_DVD == 36884);
static_assert(MEDIA_REQ_WM_JOB == 36886 && MEDIA_REQ_MNG == 36887 && MEDIA_REQ_WIA == 36888 &&
              MEDIA_REQ_MNG_PARAMS == 36906);
static_assert(SRC_GRAB_FRAME == 3 && SRC_GRAB_FRAME_RGB24 == 4 && SRC_WRITE_STREAM == 5 && SRC_STREAM == 6 &&
              SRC_ENUM_DEVICES == 7 && SRC_ENUM_WM_PROFILES == 8 && SRC_DETECT_DEVICE == 9 &&
              SRC_GRAB_FRAME_CONFIG == 10 && SRC_ACQUIRE == 12);
static_assert(MEDIA_SENDER_DSHOW == 14 && MEDIA_SENDER_MNG == 16 && MEDIA_SENDER_JPEG == 17 &&
              MEDIA_SENDER_JPEG2000 == 18 && MEDIA_SENDER_PNG == 19 && MEDIA_SENDER_GIF == 20 &&
              MEDIA_SENDER_TIFF == 21 && MEDIA_SENDER_STILLS == 22 && MEDIA_SENDER_BMP == 23 &&
              MEDIA_SENDER_RECORDER == 24);
static_assert(MEDIA_NOTIFY_FRAME == 36904 && MEDIA_NOTIFY_STREAM_INFO == 36905 &&
              MEDIA_NOTIFY_DEVICE_KIND == 36910 && MEDIA_NOTIFY_THREAD_STARTED == 36919 &&
              MEDIA_NOTIFY_JOB_COUNT == 36921 && MEDIA_NOTIFY_RECORD_FRAME == 36922 &&
              MEDIA_NOTIFY_VIDEO_WINDOW == 36932);
static_assert(sizeof(TMediaRequestOp) == 4 && sizeof(TMediaRequestError) == 4 &&
              sizeof(TMediaRequestTag) == 4 && sizeof(TSourcePurpose) == 4 && sizeof(TMediaSenderKind) == 4 &&
              sizeof(TMediaNotify) == 4);

bool IgnoreMediaNotify(void*, TMediaNotify, const TMediaSender*, void*) { return false; }

bool FailRequest(TMediaRequest& request, TMediaRequestError eError) {
  request.bSuccess = false;
  request.eError = eError;
  return false;
}

bool SucceedRequest(TMediaRequest& request) {
  request.bSuccess = true;
  request.eError = MEDIA_ERR_NONE;
  return true;
}

void* RequestParams(const TMediaRequest& request, TMediaRequestTag eRequired) {
  if (eRequired == MEDIA_REQ_NONE || request.eTag != eRequired) return nullptr;
  return request.pParams;
}

TMediaSender MakeSender(const TSourceParams& params) {
  TMediaSender sender;
  sender.nSenderId = params.nSenderId;
  sender.eSenderKind = params.eSenderKind;
  sender.ePurpose = params.ePurpose;
  sender.pContext = params.pContext;
  return sender;
}

bool NotifyOwner(TMediaOwnerCallback pCallback, const TMediaSender& sender, TMediaNotify eCode, void* pData) {
  if (!pCallback) return false;
  return pCallback(sender.pContext, eCode, &sender, pData);
}

bool NotifyOwner(const TSourceParams& params, TMediaNotify eCode, void* pData) {
  const TMediaSender sender = MakeSender(params);
  return NotifyOwner(params.pCallback, sender, eCode, pData);
}

bool StoreDvdDirectory(TDvdDirectoryRecord& record, std::string_view directory) {
  record.nLength = 0;
  if (!record.pBuffer || record.nBufferSize <= 0) return false;
  if (directory.size() >= static_cast<std::size_t>(record.nBufferSize)) {
    record.pBuffer[0] = '\0';  // too long: an empty text rather than a cut path
    return false;
  }
  std::memcpy(record.pBuffer, directory.data(), directory.size());
  record.pBuffer[directory.size()] = '\0';
  record.nLength = static_cast<std::int32_t>(directory.size());
  return true;
}

}  // namespace ZarnTypes
