#pragma once
// The Windows Media page of the "WMF", "WMV", "WMA" and "ASF" sheets: the
// system profile of a Windows Media recording, chosen from the profiles of
// the recording's kind (video with audio for WMV and ASF, audio only for
// WMA), and two flags: a profile made from the input streams' features,
// and the recorder's own writer applying the channel's sampling.
//
// The save-stream page answers WM_APP_OPTS_WMF with a TWmfExchange. The
// page opens only when profiles of the kind exist; otherwise it says so and
// ends its sheet with Cancel.

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "io/dshow/dshow_util.h"
#include "options/opts_page.h"

class QCheckBox;
class QComboBox;
class QLabel;

namespace ZarnTypes {

struct TWmfExchange {
  TOptsExchangeHeader header;
  std::int32_t format = 0;                 // 10 WMV, 11 ASF, 20 WMA; the owner's, kept by it
  std::int32_t reserved12 = 0;             // carried
  std::array<std::uint8_t, 16> profile{};  // all zero: none chosen yet
  std::uint8_t customSampling = 0;         // the recorder's writer applies the sampling
  std::uint8_t reserved33[7] = {};         // carried
  std::uint8_t newProfile = 0;             // a profile from the input streams' features
  std::uint8_t reserved41[15] = {};        // carried
};
static_assert(offsetof(TWmfExchange, format) == 8);
static_assert(offsetof(TWmfExchange, profile) == 16);
static_assert(offsetof(TWmfExchange, customSampling) == 32);
static_assert(offsetof(TWmfExchange, newProfile) == 40);
static_assert(sizeof(TWmfExchange) == 56);

}  // namespace ZarnTypes

namespace OptsWmf {

inline constexpr const char* kNoProfiles =
    "There are no Windows Media Format profiles of the selected type(s) available";

// Lists the profiles a request asks for (names, descriptions and ids
// appended to its arrays, the count set); false when it lists nothing.
using TProfileLister = std::function<bool(DShowMgr::TWmProfileList&)>;
// Replaces how the page lists profiles (an empty function: the program's
// own table, as a one-shot media-graph session lists it); returns the
// lister it replaces.
TProfileLister SetProfileLister(TProfileLister lister);

class COptsWmf : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  explicit COptsWmf(QWidget* parent = nullptr);
  ~COptsWmf() override;

  void OnOK() override;

  const ZarnTypes::TWmfExchange& Block() const { return m_block; }
  QComboBox* ProfileList() const { return m_list; }
  QLabel* Description() const { return m_description; }
  QCheckBox* NewProfileBox() const { return m_newProfile; }
  QCheckBox* CustomSamplingBox() const { return m_customSampling; }
  // The kinds asked of the lister for the block's format.
  bool WantsVideo() const { return m_bVideo; }
  bool WantsAudio() const { return m_bAudio; }

  // Shows the description of a listed entry (nothing for any other index).
  void ShowDescription(int index);

 protected:
  bool OnInitDialog() override;

 private:
  bool LoadProfiles();

  ZarnTypes::TWmfExchange m_block;
  QComboBox* m_list = nullptr;
  QLabel* m_description = nullptr;
  QCheckBox* m_newProfile = nullptr;
  QCheckBox* m_customSampling = nullptr;
  bool m_bVideo = false;
  bool m_bAudio = false;
  std::vector<std::string> m_names;
  std::vector<std::string> m_descriptions;
  std::vector<std::array<std::uint8_t, 16>> m_ids;
  std::int32_t m_nCount = 0;
};

}  // namespace OptsWmf
