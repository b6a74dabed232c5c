#pragma once
// The block of the "Media document" page (WM_APP_OPTS_CATEGORY, topic
// OPTTOPIC_MEDIA_DOCUMENT). A read fills pointers to the document's
// identifier and title and to its four channels' source and format records;
// the page only reads through them, and only while the sheet is open. A
// write is answered and changes nothing. Op 4 with request kind 1 asks for
// the additional text of a DVD channel.

#include <cstddef>
#include <cstdint>
#include <string>

#include "media/media_source.h"
#include "options/opts_exchange.h"

namespace ZarnTypes {

// The one request kind of op 4: fetch more information on a channel.
inline constexpr std::int32_t MEDIA_INFO_REQUEST_MORE = 1;

// A channel as the page knows it, and where the owner puts the text.
struct TMediaInfoRequest {
  std::int32_t channel = 0;  // 0..3
  std::int32_t streamType = 0;
  std::int32_t deviceCategory = 0;
  std::int32_t deviceKind = 0;
  std::string* text = nullptr;
};

struct TMediaDocumentExchange {
  TOptsExchangeHeader header;
  std::int32_t requestKind = 0;  // MEDIA_INFO_REQUEST_MORE on op 4
  const std::string* identifier = nullptr;
  const std::string* title = nullptr;
  const TMediaSource* sources[4] = {};
  const TStreamFormat* formats[4] = {};
  std::int32_t reserved[2] = {};
  TMediaInfoRequest* request = nullptr;  // op 4 only
};
static_assert(offsetof(TMediaDocumentExchange, requestKind) == 8);
static_assert(offsetof(TMediaDocumentExchange, identifier) < offsetof(TMediaDocumentExchange, title));
static_assert(offsetof(TMediaDocumentExchange, sources) < offsetof(TMediaDocumentExchange, formats));
static_assert(offsetof(TMediaDocumentExchange, reserved) < offsetof(TMediaDocumentExchange, request));

}  // namespace ZarnTypes
