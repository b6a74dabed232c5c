#pragma once
// The settings exchange between option pages and the windows that own the
// settings.
//
// A page never touches settings itself. When it is first shown it sends its
// owner window one synchronous private message (platform/qt/app_messages.h)
// whose lParam points at a block on the page's stack; when the sheet is
// accepted it sends the edited block back. Every block begins with
// TOptsExchangeHeader: the operation, then the `answered` byte that only the
// owner sets once it has carried the operation out. Pages look at `answered`,
// never at the message's result.

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/qt/app_messages.h"

class QObject;

namespace ZarnTypes {

// The head of every exchange block. Page fields follow with natural
// alignment: a byte field right after the header sits at offset 5, a 32-bit
// field at offset 8.
struct TOptsExchangeHeader {
  std::int32_t op = 0;
  std::uint8_t answered = 0;
};
static_assert(offsetof(TOptsExchangeHeader, op) == 0);
static_assert(offsetof(TOptsExchangeHeader, answered) == 4);

// Operations.
inline constexpr std::int32_t OPTS_XCHG_READ = 1;   // the owner fills the block
inline constexpr std::int32_t OPTS_XCHG_WRITE = 2;  // the owner takes the block
inline constexpr std::int32_t OPTS_XCHG_APPLY = 4;  // arrange toolbars now; a DVD command

// The page set a sheet is built for.
enum TOptionsCategory : std::int32_t {
  OPTCAT_NONE = 0,
  OPTCAT_MEDIA_DOCUMENT = 1,
  OPTCAT_FILES_OF_TYPE = 2,
  OPTCAT_FILE_SORTING = 3,
  OPTCAT_READ_STREAM = 7,
  OPTCAT_AVI = 8,
  OPTCAT_WMF = 9,
  OPTCAT_WMV = 10,
  OPTCAT_WMA = 11,
  OPTCAT_ASF = 12,
  OPTCAT_GRAPH = 13,
  OPTCAT_SAVE_IMAGE = 14,
  OPTCAT_SAVE_STREAM = 15,
  OPTCAT_SAMPLING = 16,
  OPTCAT_YUV = 17,
  OPTCAT_JPEG = 18,
  OPTCAT_JPEG2000 = 19,
  OPTCAT_PNG = 20,
  OPTCAT_GIF = 21,
  OPTCAT_TIFF = 22,
  OPTCAT_REFERENCE_FRAMES = 24,
  OPTCAT_VIDEO = 25,
  OPTCAT_VIDEO_PANE = 26,
  OPTCAT_PIP = 27,
  OPTCAT_DOCUMENT = 28,
  OPTCAT_CUSTOMIZE = 29,
  OPTCAT_DVD_AUDIO = 34,
  OPTCAT_DVD_CAPTION = 35,
  OPTCAT_DVD_ANGLE = 36,
  OPTCAT_DVD_NAVIGATE = 37,
  OPTCAT_TRANSFORM_2D = 39,
};

// wParam of the two shared messages WM_APP_OPTS_CATEGORY and WM_APP_OPTS_FRAME.
enum TOptsTopic : std::int32_t {
  OPTTOPIC_FILES_OF_TYPE = 1,
  OPTTOPIC_FILE_SORTING = 2,
  OPTTOPIC_MEDIA_DOCUMENT = 3,
  OPTTOPIC_OPEN_MEDIA_SOURCE = 4,
  OPTTOPIC_READ_STREAM = 5,
  OPTTOPIC_SAVE_STREAM = 6,
  OPTTOPIC_SAMPLING = 7,
  OPTTOPIC_SAVE_IMAGE = 8,
  OPTTOPIC_DIRECTSHOW = 9,
  OPTTOPIC_DVD_AUDIO = 10,
  OPTTOPIC_DVD_CAPTION = 11,
  OPTTOPIC_DVD_ANGLE = 12,
  OPTTOPIC_DVD_NAVIGATE = 13,
  OPTTOPIC_VIDEO_PANE = 14,
  OPTTOPIC_TOOLBAR = 16,
  OPTTOPIC_TRANSFORM_2D = 17,
};

// Sends an exchange block to its owner on the owner's (the UI) thread:
// clears `answered`, sets the operation, sends `message` with `wParam` and the
// block's address, and returns the owner's `answered`. Without an owner
// nothing is sent and the block stays unanswered.
bool SendOptsExchange(QObject* owner, UINT message, platform::qt::WPARAM wParam, TOptsExchangeHeader& header,
                      std::int32_t op);

// The header of a block. A block either embeds a TOptsExchangeHeader as its
// first member (its own fields then start at offset 8) or begins with its
// own int32 `op` and uint8 `answered` (so a byte field can sit at offset 5).
template <class TBlock>
TOptsExchangeHeader& OptsHeaderOf(TBlock& block) {
  static_assert(std::is_standard_layout_v<TBlock> && sizeof(TBlock) >= 5,
                "an exchange block is a plain record that begins with the header");
  return *reinterpret_cast<TOptsExchangeHeader*>(&block);
}

template <class TBlock>
bool SendOptsBlock(QObject* owner, UINT message, platform::qt::WPARAM wParam, TBlock& block,
                   std::int32_t op) {
  return SendOptsExchange(owner, message, wParam, OptsHeaderOf(block), op);
}

// The owner's side: the block a message carries, or nullptr.
template <class TBlock>
TBlock* OptsBlockOf(platform::qt::LPARAM lParam) {
  return reinterpret_cast<TBlock*>(lParam);
}

}  // namespace ZarnTypes
