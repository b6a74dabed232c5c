#pragma once
// The ""Save stream" path" dialog: where one channel's frames or captured
// pictures are written and how their file names are formed (folder,
// prefix, title base, extension, the index suffix with its least digits,
// the next clip index), with the resulting full path shown at once.
//
// The caller sets the channel index and fills that channel's record, runs
// the dialog, and after OK copies back the fields it wants. Nothing leaves
// the dialog on Cancel. The full path is composed by the caller's function
// when it gives one (the capture page names its files its own way), else
// as a recording's first file: folder "/" prefix title, then with the
// suffix "_" clip index and, for separate files, "_" frame index 0.

#include <QAbstractSpinBox>
#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>

#include "options/opts_save_stream_exchange.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace OptsSaveStreamPath {

inline constexpr std::int32_t kMinDigits = 1;
inline constexpr std::int32_t kMaxDigits = 10;

// A recording's first file: folder "/" prefix + title base, then with the
// suffix "_" (only after a name) and the clip index in `clipDigits`, and
// for separate files "_" and frame index 0 in `frameDigits`; then the
// extension. Empty when the builder refuses the digits.
std::string ComposeRecordingPath(const ZarnTypes::TSaveStreamChannel& record);

// A digits-only edit with up-down arrows: any number of digits may be
// typed (out-of-range values are clamped by the dialog on OK, not cut while
// typing); the arrows step within 1..10.
class CDigitEdit : public QAbstractSpinBox {
  Q_OBJECT
 public:
  explicit CDigitEdit(QWidget* parent = nullptr);
  void SetText(const QString& text);
  void SetNumber(std::int32_t value) { SetText(QString::number(value)); }
  QValidator::State validate(QString& input, int& pos) const override;
  void stepBy(int steps) override;

 protected:
  StepEnabled stepEnabled() const override;
};

class COptsSaveStreamPath : public QDialog {
  Q_OBJECT
 public:
  using TComposer = std::function<std::string(const ZarnTypes::TSaveStreamChannel&)>;

  explicit COptsSaveStreamPath(QWidget* parent = nullptr);
  ~COptsSaveStreamPath() override;

  // Set by the caller before the run.
  int m_nChannel = 0;
  ZarnTypes::TSaveStreamChannel m_Channels[4];
  TComposer m_Composer;  // empty: ComposeRecordingPath

  // Shows the dialog modally; a channel outside 0..3 ends it at once with
  // Cancel, unseen.
  int DoModal();
  // Fills the controls from the channel's record; false for a channel
  // outside 0..3.
  bool OnInitDialog();
  // OK: takes the entries (a non-numeric number is refused with a message,
  // the dialog stays open), clamps the digits to 1..10 and the next index
  // to 0..1073741823, stores them with the composed path into the record
  // and ends with OK. False when an entry was refused.
  bool OnOK();
  // "Reset fields": the format's default extension, prefix "CLIP", both
  // locks on; the path is not recomposed.
  void OnResetFields();
  // "Update path" (also the suffix box and both "Browse..." buttons).
  bool OnUpdatePath();
  // What "Browse..." of the single file does once a file was chosen, and
  // what the folder "Browse..." does with a chosen folder.
  void TakeSingleFile(const std::string& path);
  void TakeFolder(const std::string& folder);

  // The composed path the dialog shows.
  std::string FullPath() const;

  // Controls, for the layout and the tests.
  QLabel* m_pChannelText = nullptr;
  QLabel* m_pFormatName = nullptr;
  QPlainTextEdit* m_pFullPath = nullptr;
  QPushButton* m_pBrowseFile = nullptr;
  QLineEdit* m_pFolder = nullptr;
  QPushButton* m_pBrowseFolder = nullptr;
  QLineEdit* m_pExtension = nullptr;
  QCheckBox* m_pExtensionLock = nullptr;
  QLineEdit* m_pPrefix = nullptr;
  QLineEdit* m_pTitleBase = nullptr;
  QCheckBox* m_pAddSuffix = nullptr;
  CDigitEdit* m_pClipDigits = nullptr;
  QLineEdit* m_pNextIndex = nullptr;
  QCheckBox* m_pNextIndexLock = nullptr;
  QLabel* m_pFrameLabel = nullptr;
  CDigitEdit* m_pFrameDigits = nullptr;
  QPushButton* m_pOk = nullptr;
  QPushButton* m_pCancel = nullptr;
  QPushButton* m_pReset = nullptr;
  QPushButton* m_pUpdate = nullptr;
  QPushButton* m_pTest = nullptr;

 private:
  // The entries into a record (false, with a message, for a non-numeric
  // number); the numbers as entered, not yet clamped.
  bool TakeEntries(ZarnTypes::TSaveStreamChannel& record);
  void ShowRecord(const ZarnTypes::TSaveStreamChannel& record);
  std::string Compose(const ZarnTypes::TSaveStreamChannel& record) const;
  void BrowseFile();
  void BrowseFolder();

  ZarnTypes::TSaveStreamChannel m_Edit;  // the values the controls were last taken into
};

}  // namespace OptsSaveStreamPath
