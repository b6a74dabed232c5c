#pragma once
// The open and save dialog behind every file prompt: Qt's own (non-native)
// file dialog with rows added to its grid: the destination ("Open to:" /
// "Save from:"), the channel, "Options..." for the chosen format's page,
// "Details", an information panel and a picture preview. The decisions are
// CFileDialogLogic's; this class shows them and passes the user's actions on.
//
// It owns a copy of the caller's TFileDialogSettings; the document manager
// copies the answers back after OK. It is the owner window of the format
// pages it opens and answers their exchanges (WM_APP_OPTS_YUV, _JPEG,
// _JPEG2000, _PNG, _GIF, _TIFF) from that copy.

#include <QFileDialog>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/media_request.h"
#include "shell/file_dialog_logic.h"
#include "shell/file_dialog_settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace platform::qt {
class TMessageMap;
}
namespace PreviewCtrl {
class CPreviewCtrl;
}

namespace FileDialogEx {

class CFileDialogEx : public QFileDialog {
  Q_OBJECT
 public:
  // The dialog with a copy of the settings and the offered filter codes.
  CFileDialogEx(bool open, const ZarnTypes::TFileDialogSettings& settings,
                std::vector<std::int32_t> filterCodes, QWidget* parent = nullptr);
  ~CFileDialogEx() override;

  CFileDialogLogic& Logic() { return m_logic; }
  const ZarnTypes::TFileDialogSettings& Settings() const { return m_logic.Settings(); }

  // Selects the filter entry at an index (-1: the first) and applies it.
  void SelectFilterIndex(int index);
  int SelectedFilterIndex() const;
  // Selects the filter of a format's page; false when there is none.
  bool SelectFilterByFormat(std::int32_t format);

  // The user's actions, as the controls run them.
  void OnDestinationChosen(int index);
  void OnChannelChosen(int index);
  void OnOptions();
  void OnDetails(bool shown);
  void UpdateFileInfo(const QString& path);

  // Decodes one file for the preview with the program's readers: stills
  // with the codec managers, video and audio files on a media-graph session
  // (the installed session factory's), MNG with a runner when one is set.
  static void DecodeForPreview(ZarnTypes::TMediaRequest& request);

  // Replaces the media-graph session (and runs MNG) for video, audio and
  // MNG previews; empty: the media-graph session.
  static void SetMediaPreviewRunner(std::function<void(ZarnTypes::TMediaRequest&)> runner);

  // The added controls.
  QLabel* DestinationLabel() const { return m_label; }
  QComboBox* DestinationList() const { return m_destination; }
  QComboBox* ChannelList() const { return m_channel; }
  QPushButton* OptionsButton() const { return m_options; }
  QCheckBox* DetailsBox() const { return m_details; }
  QLabel* InfoPanel() const { return m_info; }
  PreviewCtrl::CPreviewCtrl* Preview() const { return m_preview; }

 public slots:
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildArea();
  void ShowLogic();
  void OnTypeChange(const QString& filter);
  void RefreshOptionsButton();

  CFileDialogLogic m_logic;
  QStringList m_filters;
  platform::qt::TMessageMap* m_messages = nullptr;
  QLabel* m_label = nullptr;
  QComboBox* m_destination = nullptr;
  QComboBox* m_channel = nullptr;
  QPushButton* m_options = nullptr;
  QCheckBox* m_details = nullptr;
  QLabel* m_info = nullptr;
  PreviewCtrl::CPreviewCtrl* m_preview = nullptr;
  QString m_lastPath;
  bool m_bFirstShown = false;
};

// Saves an offscreen picture of a dialog: "open-to" (the open dialog in
// "Open to" mode with a still selected), "open-long-name" (the same at its
// first size with a 164-character name selected), "yuv" (the YUV page),
// "message-box" and "message-box-short", "folder" (the folder dialog) or
// "channel-selector-<mode>" (mode 30, 31, 32, 33 or 38). False for another
// kind or when the picture could not be saved.
bool SaveDialogScreenshot(const std::string& which, const std::string& outPath);

// The format pages that exist yet for the Options button, by sheet
// category; the others leave the button disabled.
bool OptionsPageAvailable(std::int32_t category);

}  // namespace FileDialogEx
