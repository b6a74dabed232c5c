#include "shell/start_params.h"

#include <charconv>
#include <cstdint>
#include <functional>
#include <limits>

#include "platform/text.h"

namespace shell {
namespace {

struct TKeyEntry {
  TParamKey key;
  // The member the key sets, by kind.
  std::function<std::int32_t&(TChannelParams&)> number;
  std::function<std::uint8_t&(TChannelParams&)> flag;
  std::function<std::string&(TChannelParams&)> text;
};

std::vector<TKeyEntry> BuildKeys() {
  std::vector<TKeyEntry> k;
  auto num = [&](const char* name, std::int32_t TChannelParams::*m) {
    k.push_back(
        {{name, TParamKind::Number}, [m](TChannelParams& p) -> std::int32_t& { return p.*m; }, {}, {}});
  };
  auto flg = [&](const char* name, std::uint8_t TChannelParams::*m) {
    k.push_back({{name, TParamKind::Flag}, {}, [m](TChannelParams& p) -> std::uint8_t& { return p.*m; }, {}});
  };
  auto str = [&](const char* name, std::string TChannelParams::*m) {
    k.push_back(
        {{name, TParamKind::String}, {}, {}, [m](TChannelParams& p) -> std::string& { return p.*m; }});
  };
  static const char* const kStr8[5][8] = {
      {"ch_sNetworkID_Client_00", "ch_sNetworkID_Client_01", "ch_sNetworkID_Client_02",
       "ch_sNetworkID_Client_03", "ch_sNetworkID_Client_04", "ch_sNetworkID_Client_05",
       "ch_sNetworkID_Client_06", "ch_sNetworkID_Client_07"},
      {"ch_sClientDir_Inp_00", "ch_sClientDir_Inp_01", "ch_sClientDir_Inp_02", "ch_sClientDir_Inp_03",
       "ch_sClientDir_Inp_04", "ch_sClientDir_Inp_05", "ch_sClientDir_Inp_06", "ch_sClientDir_Inp_07"},
      {"ch_sClientDir_Out_00", "ch_sClientDir_Out_01", "ch_sClientDir_Out_02", "ch_sClientDir_Out_03",
       "ch_sClientDir_Out_04", "ch_sClientDir_Out_05", "ch_sClientDir_Out_06", "ch_sClientDir_Out_07"},
      {"ch_sIniFileH264_Client_00", "ch_sIniFileH264_Client_01", "ch_sIniFileH264_Client_02",
       "ch_sIniFileH264_Client_03", "ch_sIniFileH264_Client_04", "ch_sIniFileH264_Client_05",
       "ch_sIniFileH264_Client_06", "ch_sIniFileH264_Client_07"},
      {"ch_sServer_ClientDir_00", "ch_sServer_ClientDir_01", "ch_sServer_ClientDir_02",
       "ch_sServer_ClientDir_03", "ch_sServer_ClientDir_04", "ch_sServer_ClientDir_05",
       "ch_sServer_ClientDir_06", "ch_sServer_ClientDir_07"},
  };
  auto str8 = [&](int group, std::array<std::string, 8> TChannelParams::*m) {
    for (std::size_t i = 0; i < 8; ++i)
      k.push_back({{kStr8[group][i], TParamKind::String}, {}, {}, [m, i](TChannelParams& p) -> std::string& {
                     return (p.*m)[i];
                   }});
  };
  auto flg4 = [&](const char* const names[4], std::array<std::uint8_t, 4> TChannelParams::*m) {
    for (std::size_t i = 0; i < 4; ++i)
      k.push_back({{names[i], TParamKind::Flag},
                   {},
                   [m, i](TChannelParams& p) -> std::uint8_t& { return (p.*m)[i]; },
                   {}});
  };
  static const char* const kProcess[4] = {"ch_bEnableProcess_00", "ch_bEnableProcess_01",
                                          "ch_bEnableProcess_02", "ch_bEnableProcess_03"};
  static const char* const kClientProcess[4] = {"ch_bEnableClientProcess_00", "ch_bEnableClientProcess_01",
                                                "ch_bEnableClientProcess_02", "ch_bEnableClientProcess_03"};
  using P = TChannelParams;
  num("ch_nDecoderID", &P::ch_nDecoderID);
  flg("ch_bIsServerDecoder", &P::ch_bIsServerDecoder);
  flg("ch_bIsClientDecoder", &P::ch_bIsClientDecoder);
  flg("ch_bEnableSocketServClient", &P::ch_bEnableSocketServClient);
  str("ch_sIPAddressServer", &P::ch_sIPAddressServer);
  str("ch_sNetworkID_Server", &P::ch_sNetworkID_Server);
  str8(0, &P::ch_sNetworkID_Client);
  str8(1, &P::ch_sClientDir_Inp);
  str8(2, &P::ch_sClientDir_Out);
  str8(3, &P::ch_sIniFileH264_Client);
  str8(4, &P::ch_sServer_ClientDir);
  flg("ch_bEnableDecoderOOV", &P::ch_bEnableDecoderOOV);
  str("ch_sSysDirOOV", &P::ch_sSysDirOOV);
  str("ch_sIniFileOOV", &P::ch_sIniFileOOV);
  str("ch_sSrcDirOOV", &P::ch_sSrcDirOOV);
  str("ch_sOOVSFileIn", &P::ch_sOOVSFileIn);
  str("ch_sOOVSFileOut", &P::ch_sOOVSFileOut);
  flg("ch_bEnableVideoOOV", &P::ch_bEnableVideoOOV);
  flg("ch_bEnableFtpSource", &P::ch_bEnableFtpSource);
  flg("ch_bEnableDecoderH264", &P::ch_bEnableDecoderH264);
  str("ch_sSysDirH264", &P::ch_sSysDirH264);
  str("ch_sIniFileH264", &P::ch_sIniFileH264);
  str("ch_sSrcFileH264", &P::ch_sSrcFileH264);
  flg("ch_bEnableVideoH264", &P::ch_bEnableVideoH264);
  flg("ch_bEnableSaveDecodedFramesYUV", &P::ch_bEnableSaveDecodedFramesYUV);
  flg("ch_bEnableSaveDecodedFramesBmp", &P::ch_bEnableSaveDecodedFramesBmp);
  flg4(kProcess, &P::ch_bEnableProcess);
  flg4(kClientProcess, &P::ch_bEnableClientProcess);
  flg("ch_bEnable2XImage", &P::ch_bEnable2XImage);
  flg("ch_bEnableDecoderMpeg2", &P::ch_bEnableDecoderMpeg2);
  num("ch_nDecoderCtrlPeriod", &P::ch_nDecoderCtrlPeriod);
  num("ch_nDecoderRequestToStopPeriod", &P::ch_nDecoderRequestToStopPeriod);
  num("ch_nDecoderVideoOutPeriod", &P::ch_nDecoderVideoOutPeriod);
  num("ch_nDecoderVideoOutDelay", &P::ch_nDecoderVideoOutDelay);
  num("ch_nFramesCount_RQ", &P::ch_nFramesCount_RQ);
  str("ch_sFtpSiteAddr", &P::ch_sFtpSiteAddr);
  str("ch_sFtpUserName", &P::ch_sFtpUserName);
  str("ch_sFtpPassword", &P::ch_sFtpPassword);
  str("ch_sRemoteFile", &P::ch_sRemoteFile);
  str("ch_sLocalFile", &P::ch_sLocalFile);
  num("ch_nDelayFtpBuffer", &P::ch_nDelayFtpBuffer);
  return k;
}

const std::vector<TKeyEntry>& Keys() {
  static const std::vector<TKeyEntry> keys = BuildKeys();
  return keys;
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The matching rule of keys and flag words: `text` begins with `word` without
// regard to case, and the character after it is not in 'A'..'z'.
bool MatchesWord(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (Upper(text[i]) != Upper(word[i])) return false;
  if (text.size() == word.size()) return true;
  const auto next = static_cast<unsigned char>(text[word.size()]);
  return next < 65 || next > 122;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// "%d": leading white space, an optional sign, decimal digits. A number
// outside 32 bits is not a number.
bool ReadNumber(std::string_view v, std::int32_t& out) {
  std::size_t i = 0;
  while (i < v.size() && (v[i] == ' ' || (v[i] >= '\t' && v[i] <= '\r'))) ++i;
  v.remove_prefix(i);
  if (!v.empty() && v[0] == '+') {
    // from_chars takes no '+'; after it only digits may follow ("+-5" is
    // not a number).
    v.remove_prefix(1);
    if (v.empty() || v[0] < '0' || v[0] > '9') return false;
  }
  std::int32_t n = 0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
  if (ec != std::errc() || end == v.data()) return false;
  out = n;
  return true;
}

// Periods are divided by; a period of 0 is not a valid value.
bool IsPeriodKey(int index) { return index == 71 || index == 72 || index == 73; }

}  // namespace

const std::vector<TParamKey>& ChannelParamKeys() {
  static const std::vector<TParamKey> keys = [] {
    std::vector<TParamKey> out;
    for (const auto& e : Keys()) out.push_back(e.key);
    return out;
  }();
  return keys;
}

void ParseChannelParamLine(std::string_view line, TAppParams& params, TChannelParamsSet& set) {
  // A NUL ends the line, as it ends a C string.
  if (auto nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);
  if (line.empty() || !IsLetter(line[0])) return;
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return;
  std::size_t vs = eq + 1;
  while (vs < line.size() && IsBlank(line[vs])) ++vs;
  const std::string_view value = line.substr(vs);

  const auto& keys = Keys();
  for (std::size_t index = 0; index < keys.size(); ++index) {
    const TKeyEntry& e = keys[index];
    if (!MatchesWord(line, e.key.name)) continue;
    const int i = static_cast<int>(index);
    TChannelParams& p = params.channel;
    switch (e.key.kind) {
      case TParamKind::Number: {
        std::int32_t n = 0;
        const bool ok = ReadNumber(value, n) && !(IsPeriodKey(i) && n == 0);
        if (ok) e.number(p) = n;
        set.Set(i, ok);
        break;
      }
      case TParamKind::Flag: {
        bool ok = true;
        if (MatchesWord(value, "0") || MatchesWord(value, "NO") || MatchesWord(value, "FALSE"))
          e.flag(p) = 0;
        else if (MatchesWord(value, "1") || MatchesWord(value, "YES") || MatchesWord(value, "TRUE"))
          e.flag(p) = 1;
        else
          ok = false;
        set.Set(i, ok);
        break;
      }
      case TParamKind::String: {
        const std::size_t end = value.find_first_of("\t\n\f\r ,;");
        const std::string_view s = value.substr(0, end);
        if (!s.empty()) e.text(p) = std::string(s);
        set.Set(i, !s.empty());
        break;
      }
    }
    return;  // the first key that matches is the line's key
  }
}

TStartFileStatus ReadChannelParamFile(const std::filesystem::path& path, TAppParams& params,
                                      TChannelParamsSet& set) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return TStartFileStatus::CannotOpen;
  std::vector<std::uint8_t> bytes;
  if (!platform::ReadFileBytes(path, bytes)) return TStartFileStatus::CannotOpen;

  std::size_t pos = 0;
  switch (platform::DetectTextEncoding(bytes.data(), bytes.size())) {
    case platform::TextEncoding::Empty: return TStartFileStatus::Read;
    case platform::TextEncoding::Utf16Le: break;
    case platform::TextEncoding::Utf16LeBom: pos = 2; break;
    default: return TStartFileStatus::NotUtf16;
  }

  // Lines of at most 255 characters, each with its line feed.
  constexpr std::size_t kMaxLine = 255;
  std::u16string piece;
  auto flush = [&] {
    if (!piece.empty()) ParseChannelParamLine(platform::Utf16ToUtf8(piece), params, set);
    piece.clear();
  };
  for (; pos + 1 < bytes.size(); pos += 2) {
    const auto c = static_cast<char16_t>(bytes[pos] | (bytes[pos + 1] << 8));
    piece.push_back(c);
    if (c == u'\n' || piece.size() == kMaxLine) flush();
  }
  flush();
  return TStartFileStatus::Read;
}

std::string StartFileProblemText(const std::filesystem::path& path, TStartFileStatus status) {
  if (status != TStartFileStatus::NotUtf16) return {};
  return "The start parameter file\n" + path.string() +
         "\nis not UTF-16 (little-endian) text and was not read.\n"
         "Save it as UTF-16LE (\"Unicode\") text.";
}

void CCommandLineInfoEx::ParseCommandLine(const std::vector<std::string>& args) {
  if (args.empty()) return;
  m_strProgramPath = args[0];
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool last = i + 1 == args.size();
    // Only "-" makes a flag: a path beginning with "/" is a path.
    if (!m_expectScreenshot && a.size() > 1 && a[0] == '-')
      ParseParam(std::string_view(a).substr(1), true, last);
    else
      ParseParam(a, false, last);
  }
}

void CCommandLineInfoEx::ParseParam(std::string_view param, bool isFlag, bool /*isLast*/) {
  if (m_expectScreenshot) {
    m_strScreenshot = std::string(param);
    m_expectScreenshot = false;
    return;
  }
  if (isFlag) {
    if (!param.empty() && (param[0] == 'i' || param[0] == 'I')) {
      // The rest of the argument is the path; the last -i wins.
      m_strStartFile = std::string(param.substr(1));
      m_bHasStartFileFlag = true;
      return;
    }
    if (param == "-screenshot") {
      m_expectScreenshot = true;
      return;
    }
    if (param.rfind("-screenshot=", 0) == 0) {
      m_strScreenshot = std::string(param.substr(12));
      return;
    }
    if (param == "-help" || param == "h") {
      m_bShowHelp = true;
      return;
    }
    m_unknownFlags.emplace_back(param);  // flags nobody knows are ignored
    return;
  }
  if (m_strFileName.empty()) {
    m_strFileName = std::string(param);
    m_nShellCommand = FileOpen;
  }
}

std::string CommandLineUsage() {
  return "Usage: tovrin [options] [file]\n"
         "\n"
         "Opens the file in a new media document, or an empty document without one.\n"
         "\n"
         "Options:\n"
         "  -i<path>               read the start parameter file <path> (UTF-16LE text)\n"
         "                         after the one beside the program\n"
         "  --screenshot <file>    start, save a PNG picture of the main window to\n"
         "                         <file> and quit\n"
         "  -h, --help             show this text\n";
}

}  // namespace shell
