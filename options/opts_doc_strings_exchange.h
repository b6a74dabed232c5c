#pragma once
// The blocks of the document's three decoder settings groups
// (WM_APP_OPTS_DOC_STRINGS_1..3): the OOV decoder group, the H.264 decoder
// group and the third group. Op 1 copies the document's values into the
// block, op 2 back; the strings go by value. No page sends them yet.

#include <cstddef>
#include <cstdint>
#include <string>

#include "options/opts_exchange.h"

namespace ZarnTypes {

struct TOovSettingsExchange {
  TOptsExchangeHeader header;
  std::uint8_t enableDecoder = 0;  // ch_bEnableDecoderOOV
  std::string sysDir;              // ch_sSysDirOOV
  std::string iniFile;             // ch_sIniFileOOV
  std::string srcDir;              // ch_sSrcDirOOV
  std::string fileIn;              // ch_sOOVSFileIn
  std::string fileOut;             // ch_sOOVSFileOut
  std::uint8_t enableVideo = 0;    // ch_bEnableVideoOOV
  std::uint8_t enableFtpSource = 0;
};
static_assert(offsetof(TOovSettingsExchange, enableDecoder) < offsetof(TOovSettingsExchange, sysDir));

struct TH264SettingsExchange {
  TOptsExchangeHeader header;
  std::uint8_t enableDecoder = 0;  // ch_bEnableDecoderH264
  std::string sysDir;              // ch_sSysDirH264
  std::string iniFile;             // ch_sIniFileH264
  std::string srcFile;             // ch_sSrcFileH264
  std::uint8_t enableVideo = 0;    // ch_bEnableVideoH264
  std::uint8_t saveDecodedFramesYuv = 0;
  std::uint8_t saveDecodedFramesBmp = 0;
  std::uint8_t enableProcess[4] = {};
  std::uint8_t enableClientProcess[4] = {};
  std::uint8_t enable2XImage = 0;  // ch_bEnable2XImage
};
static_assert(offsetof(TH264SettingsExchange, enable2XImage) ==
              offsetof(TH264SettingsExchange, enableVideo) + 11);

struct TDocStrings3Exchange {
  TOptsExchangeHeader header;
  std::uint8_t first = 0;
  std::string s[3];
  std::uint8_t last = 0;
};
static_assert(offsetof(TDocStrings3Exchange, first) < offsetof(TDocStrings3Exchange, s));

}  // namespace ZarnTypes
