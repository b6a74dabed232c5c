#pragma once
// One channel's capture settings and the names of its captured image files.
// The document owns four writers, one per channel; its capture commands ask
// them for file names and the capture options page exchanges their fields
// with the document.

#include <cstdint>
#include <string>

#include "media/file_types.h"

namespace SaveImage {

// The folder captured images of a channel (0..3) go to when no folder is
// set: "Tovrin/CaptureImage_<channel + 1>" under the user's pictures folder
// ($XDG_PICTURES_DIR, else the user-dirs.dirs entry, else ~/Pictures).
std::string GetDefaultCaptureFolder(std::int32_t nChannel);

class CSaveImage {
 public:
  // `nChannel` (0..3) chooses the default capture folder.
  explicit CSaveImage(std::int32_t nChannel = 0) : m_nChannel(nChannel) {}

  // The path of captured file number `nIndex`:
  //   folder / prefix + index (zero-padded to the digit count) + suffix + extension.
  // The number format text ("%05d" for 5 digits, "%00d" for none) and the
  // built name are kept in the object. Backslashes in the folder become the
  // native separator; an empty folder means the channel's default capture
  // folder. The returned text stays owned by the object and is replaced by
  // the next call.
  const std::string& BuildFileName(std::int32_t nIndex);

  std::int32_t m_nReserved1 = 0;
  std::uint8_t m_bSendToClipboard = 0;  // "Send copy to Clipboard"
  std::uint8_t m_bSaveToFile = 0;       // "Save copy to file"
  std::int32_t m_nFileCounter = 0;
  std::string m_sPageText;  // kept for the options page
  std::string m_sOutputFolder;
  std::string m_sPrefix;
  std::string m_sSuffix;
  std::string m_sPageText2;  // kept for the options page
  std::string m_sBuiltName;  // built: prefix + number + suffix
  std::string m_sExtension = ".bmp";
  std::int32_t m_nPageValue = 0;   // kept for the options page
  std::int32_t m_nDigitCount = 0;  // 0..32; values outside are taken as the nearest bound
  std::int32_t m_nPageValue2 = 1;  // kept for the options page
  ZarnTypes::TStreamType m_eCaptureFormat = ZarnTypes::ST_BMP_24BIT;
  std::int32_t m_nReserved2 = 0;
  std::string m_sNumberFormat;  // built: "%0<digits>d"
  std::string m_sBuiltPath;     // built: the last path returned
  std::int32_t m_nReserved3 = 0;
  std::int32_t m_nChannel = 0;  // 0..3
};

}  // namespace SaveImage
