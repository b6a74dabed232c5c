#pragma once
// The application's records that documents copy when they are set up: the
// per-user folders and the start-file values (`TAppParams`), which start-file
// keys were set (`TChannelParamsSet`) and the per-channel file naming
// (`TChannelNaming`).

#include <array>
#include <cstdint>
#include <string>

namespace shell {

inline constexpr int kChannelCount = 4;

// The values of the start parameter files, one member per key.
struct TChannelParams {
  std::int32_t ch_nDecoderID = 0;
  std::uint8_t ch_bIsServerDecoder = 0;
  std::uint8_t ch_bIsClientDecoder = 0;
  std::uint8_t ch_bEnableSocketServClient = 0;
  std::string ch_sIPAddressServer;
  std::string ch_sNetworkID_Server;
  std::array<std::string, 8> ch_sNetworkID_Client;    // _00 .. _07
  std::array<std::string, 8> ch_sClientDir_Inp;       // _00 .. _07
  std::array<std::string, 8> ch_sClientDir_Out;       // _00 .. _07
  std::array<std::string, 8> ch_sIniFileH264_Client;  // _00 .. _07
  std::array<std::string, 8> ch_sServer_ClientDir;    // _00 .. _07
  std::uint8_t ch_bEnableDecoderOOV = 0;
  std::string ch_sSysDirOOV;
  std::string ch_sIniFileOOV;
  std::string ch_sSrcDirOOV;
  std::string ch_sOOVSFileIn;
  std::string ch_sOOVSFileOut;
  std::uint8_t ch_bEnableVideoOOV = 0;
  std::uint8_t ch_bEnableFtpSource = 0;
  std::uint8_t ch_bEnableDecoderH264 = 0;
  std::string ch_sSysDirH264;
  std::string ch_sIniFileH264;
  std::string ch_sSrcFileH264;
  std::uint8_t ch_bEnableVideoH264 = 0;
  std::uint8_t ch_bEnableSaveDecodedFramesYUV = 0;
  std::uint8_t ch_bEnableSaveDecodedFramesBmp = 0;
  std::array<std::uint8_t, 4> ch_bEnableProcess{};        // _00 .. _03
  std::array<std::uint8_t, 4> ch_bEnableClientProcess{};  // _00 .. _03
  std::uint8_t ch_bEnable2XImage = 0;
  std::uint8_t ch_bEnableDecoderMpeg2 = 0;
  std::int32_t ch_nDecoderCtrlPeriod = 0;
  std::int32_t ch_nDecoderRequestToStopPeriod = 0;
  std::int32_t ch_nDecoderVideoOutPeriod = 0;
  std::int32_t ch_nDecoderVideoOutDelay = 0;
  std::int32_t ch_nFramesCount_RQ = 0;
  std::string ch_sFtpSiteAddr;
  std::string ch_sFtpUserName;
  std::string ch_sFtpPassword;
  std::string ch_sRemoteFile;
  std::string ch_sLocalFile;
  std::int32_t ch_nDelayFtpBuffer = 0;

  bool operator==(const TChannelParams&) const = default;
};

inline constexpr int kChannelParamCount = 82;
inline constexpr int kFramesCountRqIndex = 75;
inline constexpr int kIsClientDecoderIndex = 2;

// One was-set flag per start-file key, by the key's index. The flag of
// `ch_nFramesCount_RQ` is 32 bits wide.
struct TChannelParamsSet {
  std::array<std::uint8_t, kChannelParamCount> bSet{};  // entry 75 unused
  std::uint32_t nFramesCount_RQ_Set = 0;

  bool IsSet(int index) const {
    if (index == kFramesCountRqIndex) return nFramesCount_RQ_Set != 0;
    return index >= 0 && index < kChannelParamCount && bSet[static_cast<std::size_t>(index)] != 0;
  }
  void Set(int index, bool on) {
    if (index == kFramesCountRqIndex)
      nFramesCount_RQ_Set = on ? 1 : 0;
    else if (index >= 0 && index < kChannelParamCount)
      bSet[static_cast<std::size_t>(index)] = on ? 1 : 0;
  }
  bool operator==(const TChannelParamsSet&) const = default;
};

// A folder with the file-name prefix used in it.
struct TFolderPrefix {
  std::string folder;
  std::string prefix;
  bool operator==(const TFolderPrefix&) const = default;
};

// The folder part of the parameters: 24 strings.
struct TAppFolders {
  std::string configIni;                               // 0
  std::string configIni2;                              // 1 (the same path again)
  std::string configIniName;                           // 2 "Config"
  std::string configXml;                               // 3
  std::string configXml2;                              // 4
  std::string configXmlName;                           // 5 "Config"
  std::string log;                                     // 6
  std::string logName;                                 // 7 "Log"
  std::array<TFolderPrefix, kChannelCount> recording;  // 8..15: folder, "Clip"
  std::array<TFolderPrefix, kChannelCount> capture;    // 16..23: folder, "Image"
  bool operator==(const TAppFolders&) const = default;
};

struct TAppParams {
  TAppFolders folders;
  TChannelParams channel;
  bool operator==(const TAppParams&) const = default;
};

// The six naming strings of a channel.
struct TChannelNaming {
  std::string saveSingle;  // 0 single-file name (recordings only)
  std::string dirOut;      // 1 output folder
  std::string titleBase;   // 2 title base of generated names
  std::string prefix;      // 3
  std::string suffix;      // 4
  std::string extension;   // 5
  std::string& Slot(int i);
  const std::string& Slot(int i) const;
  bool operator==(const TChannelNaming&) const = default;
};

}  // namespace shell
