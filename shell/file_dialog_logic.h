#pragma once
// What the extended file dialog decides, without any widget: the lists of
// destinations and channels, the label, which controls are enabled, what a
// file selection shows in the information panel, what a filter change and
// the OK button write into the dialog's copy of TFileDialogSettings, and
// how the dialog answers the format pages' exchanges. CFileDialogEx shows
// this state and feeds the user's actions in.

#include <cstdint>
#include <string>
#include <vector>

#include "options/opts_exchange.h"
#include "shell/file_dialog_settings.h"

namespace ZarnTypes {
struct TYuvFormatExchange;
}

namespace FileDialogEx {

// One item of a drop-down list and its item data.
struct TListItem {
  std::string text;
  std::int32_t data = 0;
  bool operator==(const TListItem&) const = default;
};

// What a still-image preview tells about the picture.
struct TStillInfo {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t bmpBitsPerPixel = 0;  // BMP only
  std::int32_t bmpPlanes = 0;        // BMP only
  std::int32_t info[14] = {};        // the reader's information record
};

// The preview the logic drives (CPreviewCtrl in the dialog).
class IPreviewTarget {
 public:
  virtual ~IPreviewTarget() = default;
  virtual bool LoadMedia(const std::string& path, std::int32_t format) = 0;
  virtual bool LoadImage(const std::string& path, std::int32_t format, TStillInfo& info) = 0;
  virtual bool LoadYuvFrame(const std::string& path, std::int32_t width, std::int32_t height,
                            std::int32_t yuvFormat) = 0;
  virtual void Clear() = 0;
};

// What pressing OK does.
struct TAcceptResult {
  bool accept = false;
  // In the save modes: a typed name whose extension belongs to another
  // format is not accepted; the name box shows this corrected name instead.
  std::string correctedName;
};

// The details line of a media file the preview could not show.
inline constexpr const char* kCannotPreview = "The file cannot be previewed";

class CFileDialogLogic {
 public:
  static constexpr const char* kNoInformation = " Information is unavailable";

  CFileDialogLogic(const ZarnTypes::TFileDialogSettings& settings, std::vector<std::int32_t> filterCodes);

  // The dialog's set-up (destination and channel lists, Details, the YUV
  // repairs). Runs once.
  void Init();

  const ZarnTypes::TFileDialogSettings& Settings() const { return m_settings; }
  ZarnTypes::TFileDialogSettings& Settings() { return m_settings; }
  const std::vector<std::int32_t>& FilterCodes() const { return m_codes; }
  std::int32_t Mode() const { return m_settings.mode; }

  std::string LabelText() const;
  int AreaHeight() const;
  bool DetailsShown() const { return m_detailsShown; }
  void SetDetailsShown(bool shown) { m_detailsShown = shown; }
  bool PanelAndPreviewVisible() const { return ZarnTypes::IsOpenMode(Mode()) && m_detailsShown; }
  bool DetailsBoxVisible() const { return ZarnTypes::IsOpenMode(Mode()); }
  bool OptionsEnabled() const { return m_optionsEnabled; }
  std::int32_t CurrentFormat() const { return m_currentFormat; }
  const std::string& PanelText() const { return m_panelText; }
  const std::string& DetailsText() const { return m_detailsText; }

  const std::vector<TListItem>& DestinationItems() const { return m_destinations; }
  int DestinationIndex() const { return m_destinationIndex; }
  const std::vector<TListItem>& ChannelItems() const { return m_channels; }
  int ChannelIndex() const { return m_channelIndex; }

  // The filter a format's page stands for, as an index into the dialog's
  // list (-1 when the format has none).
  int FilterIndexForFormat(std::int32_t format) const;
  // The format of the entry at an index (0 for none or a group).
  std::int32_t FilterFormat(int filterIndex) const;

  // Enables the Options button for the formats that own a page.
  void EnableOptionsButton(std::int32_t format);

  // The user picked a destination; refills the channels in "Open to".
  void CloseUpDestination(int index);
  // The user picked a channel; in "Save Image As" returns the name to
  // propose from that channel's source ("" when none).
  std::string CloseUpChannel(int index, int filterIndex);

  // The filter changed: the new name for the name box ("" keeps it) and
  // whether the selected file is to be described again.
  struct TTypeChange {
    std::string newName;
    bool refreshInfo = false;
  };
  TTypeChange OnTypeChange(int filterIndex, const std::string& currentFileTitle);

  // The media reader's stream header (MNG): the details of the panel.
  void OnPreviewInfo(std::int32_t senderKind, const std::int32_t* values);

  // A file or folder was selected: fills the panel, drives the preview.
  // False when nothing changed (empty path).
  bool UpdateFileInfo(const std::string& path, IPreviewTarget& preview);

  // OK with the selected path and filter.
  TAcceptResult OnFileNameOK(const std::string& path, int filterIndex);

  // The Options button: the sheet category to open (0: none) for the
  // selected filter. Sets the current format.
  std::int32_t OptionsCategory(int filterIndex);

  // The settings exchanges of the format pages. True when answered.
  bool ExchangeYuv(ZarnTypes::TYuvFormatExchange& block);
  // JPEG: format at 8, quality at 12. The other encoder blocks are kept as
  // their bytes from offset 8 (JPEG 2000 36, PNG 28, GIF 32, TIFF 36 bytes).
  bool ExchangeFormatBlock(UINT message, ZarnTypes::TOptsExchangeHeader& header);

 private:
  void FillDestinations();
  void FillChannels();
  std::string DescribeStill(std::int32_t format, const TStillInfo& info) const;

  ZarnTypes::TFileDialogSettings m_settings;
  std::vector<std::int32_t> m_codes;
  bool m_initDone = false;
  bool m_detailsShown = false;
  bool m_optionsEnabled = true;
  std::int32_t m_currentFormat = 0;
  std::string m_panelText = kNoInformation;
  std::string m_detailsText;
  std::vector<TListItem> m_destinations;
  int m_destinationIndex = -1;
  std::vector<TListItem> m_channels;
  int m_channelIndex = -1;
};

// Formats whose Options page can be opened from the dialog.
bool FormatHasOptionsButton(std::int32_t format);
// The sheet category of a format's page in the save modes (0 none).
std::int32_t FormatOptionsCategory(std::int32_t format);
// The panel's type name of a format ("" when it has none).
std::string FileTypeName(std::int32_t format);
// The pixel format a picture of the bits per pixel is shown as.
std::int32_t PixelFormatForBits(std::int32_t bits);

}  // namespace FileDialogEx
