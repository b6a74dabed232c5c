#include "io/media_request.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace {

using namespace ZarnTypes;

TEST(MediaRequest, FailureIsReportedThreeWaysAndSuccessClearsIt) {
  TMediaRequest request;
  EXPECT_FALSE(FailRequest(request, MEDIA_ERR_DSHOW_SESSION));
  EXPECT_FALSE(request.bSuccess);
  EXPECT_EQ(request.eError, 15);

  request.bSuccess = true;  // a stale flag from an earlier call
  EXPECT_FALSE(FailRequest(request, MEDIA_ERR_READ_PNG));
  EXPECT_FALSE(request.bSuccess);
  EXPECT_EQ(request.eError, 7);

  EXPECT_TRUE(SucceedRequest(request));
  EXPECT_TRUE(request.bSuccess);
  EXPECT_EQ(request.eError, MEDIA_ERR_NONE);
}

TEST(MediaRequest, ParameterBlockOnlyUnderTheRequiredTag) {
  TSourceParams params;
  TMediaRequest request;
  request.pParams = &params;

  struct TCase {
    TMediaRequestTag tag;
    TMediaRequestTag required;
    bool found;
  };
  const TCase cases[] = {
      {MEDIA_REQ_DSHOW_SOURCE, MEDIA_REQ_DSHOW_SOURCE, true},
      {MEDIA_REQ_NONE, MEDIA_REQ_DSHOW_SOURCE, false},  // a plain still request handed to a session
      {MEDIA_REQ_MNG, MEDIA_REQ_DSHOW_SOURCE, false},
      {MEDIA_REQ_PNG, MEDIA_REQ_PNG, true},
      {MEDIA_REQ_PNG, MEDIA_REQ_TIFF, false},
      {MEDIA_REQ_NONE, MEDIA_REQ_NONE, false},  // no tag, no block
  };
  for (const TCase& c : cases) {
    request.eTag = c.tag;
    EXPECT_EQ(RequestParams(request, c.required) != nullptr, c.found) << c.tag << " for " << c.required;
  }

  request.eTag = MEDIA_REQ_DSHOW_SOURCE;
  EXPECT_EQ(SourceParamsOf(request), &params);
  request.pParams = nullptr;
  EXPECT_EQ(SourceParamsOf(request), nullptr);
}

struct TCallRecord {
  int calls = 0;
  void* context = nullptr;
  TMediaNotify code{};
  TMediaSender sender;
  void* data = nullptr;
  bool answer = false;
};

bool RecordingCallback(void* pContext, TMediaNotify eCode, const TMediaSender* pSender, void* pData) {
  auto* record = static_cast<TCallRecord*>(pContext);
  ++record->calls;
  record->context = pContext;
  record->code = eCode;
  record->sender = *pSender;
  record->data = pData;
  return record->answer;
}

TEST(MediaRequest, OwnerIsCalledWithTheBlocksSenderAndContext) {
  TCallRecord record;
  TSourceParams params;
  params.nSenderId = 42;  // channel 1's reader
  params.eSenderKind = MEDIA_SENDER_DSHOW;
  params.ePurpose = SRC_STREAM;
  params.pContext = &record;
  params.pCallback = &RecordingCallback;

  TMediaFrameNotice notice;
  for (bool answer : {true, false}) {
    record.answer = answer;
    EXPECT_EQ(NotifyOwner(params, MEDIA_NOTIFY_FRAME, &notice), answer);
  }
  EXPECT_EQ(record.calls, 2);
  EXPECT_EQ(record.context, &record);
  EXPECT_EQ(record.code, MEDIA_NOTIFY_FRAME);
  EXPECT_EQ(record.sender.nSenderId, 42);
  EXPECT_EQ(record.sender.eSenderKind, MEDIA_SENDER_DSHOW);
  EXPECT_EQ(record.sender.ePurpose, SRC_STREAM);
  EXPECT_EQ(record.sender.pContext, &record);
  EXPECT_EQ(record.data, &notice);

  // The job counter's delta travels in the pointer value, signs included.
  TMediaSender recorder{45, MEDIA_SENDER_RECORDER, SRC_WRITE_STREAM, &record};
  record.answer = true;
  EXPECT_TRUE(NotifyOwner(&RecordingCallback, recorder, MEDIA_NOTIFY_JOB_COUNT, ValueAsPointer(-1)));
  EXPECT_EQ(PointerAsValue(record.data), -1);
  EXPECT_EQ(record.sender.eSenderKind, MEDIA_SENDER_RECORDER);

  // Without a callback nothing is called and the answer is no.
  params.pCallback = nullptr;
  EXPECT_FALSE(NotifyOwner(params, MEDIA_NOTIFY_FRAME, &notice));
  EXPECT_EQ(record.calls, 3);
  EXPECT_FALSE(IgnoreMediaNotify(&record, MEDIA_NOTIFY_DEVICE_KIND, &recorder, nullptr));
}

TEST(MediaRequest, FramesAreTakenOnlyFromMediaGraphAndMngSenders) {
  for (std::int32_t kind = 0; kind <= 30; ++kind)
    EXPECT_EQ(IsFrameSenderKind(kind), kind >= 14 && kind <= 16) << kind;
}

TEST(DvdDirectoryRecord, StoresTheDirectoryOnlyWhenItFits) {
  std::array<char, 8> buffer;
  TDvdDirectoryRecord record;
  record.pBuffer = buffer.data();
  record.nBufferSize = static_cast<std::int32_t>(buffer.size());

  buffer.fill('#');
  EXPECT_TRUE(StoreDvdDirectory(record, "/dvd/VI"));  // 7 bytes and the zero
  EXPECT_STREQ(buffer.data(), "/dvd/VI");
  EXPECT_EQ(record.nLength, 7);

  buffer.fill('#');
  EXPECT_FALSE(StoreDvdDirectory(record, "/dvd/VID"));  // one byte too many: nothing cut short
  EXPECT_STREQ(buffer.data(), "");
  EXPECT_EQ(record.nLength, 0);
  EXPECT_EQ(buffer[1], '#');  // nothing written past the terminator

  TDvdDirectoryRecord none;
  EXPECT_FALSE(StoreDvdDirectory(none, "/dvd"));
  none.pBuffer = buffer.data();  // a buffer of no size is never written
  buffer.fill('#');
  EXPECT_FALSE(StoreDvdDirectory(none, ""));
  EXPECT_EQ(buffer[0], '#');
}

}  // namespace
