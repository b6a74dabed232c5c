#pragma once
// The program's own message box. It takes the system message box's style
// bits (button set, icon, default button, modality, alignment) plus bits of
// its own in the high byte: extra buttons ("Yes to &all", "Skip &all", ...),
// a "don't show / ask again" check box, right-aligned buttons, no sound. A
// countdown can press the default button or unlock the buttons; an answer
// can be remembered in the profile section "MessageBoxes" and is then
// returned without showing the box, also after a restart.

#include <QDialog>
#include <QIcon>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;

namespace platform::qt {
class CRegistryAccess;
}

namespace MessageBoxDlg {

// The box's own style bits.
inline constexpr std::uint32_t MBX_DONT_SHOW_AGAIN = 0x01000000;
inline constexpr std::uint32_t MBX_DONT_ASK_AGAIN = 0x02000000;
inline constexpr std::uint32_t MBX_YES_TO_ALL = 0x04000000;
inline constexpr std::uint32_t MBX_NO_TO_ALL = 0x08000000;
inline constexpr std::uint32_t MBX_CHECKED = 0x10000000;
inline constexpr std::uint32_t MBX_RIGHT_BUTTONS = 0x20000000;
inline constexpr std::uint32_t MBX_NO_SOUND = 0x40000000;

// System style bits the box understands.
inline constexpr std::uint32_t MBX_TYPEMASK = 0x0000000F;
inline constexpr std::uint32_t MBX_ICONMASK = 0x000000F0;
inline constexpr std::uint32_t MBX_ICONHAND = 0x00000010;
inline constexpr std::uint32_t MBX_ICONQUESTION = 0x00000020;
inline constexpr std::uint32_t MBX_ICONEXCLAMATION = 0x00000030;
inline constexpr std::uint32_t MBX_ICONASTERISK = 0x00000040;
inline constexpr std::uint32_t MBX_DEFMASK = 0x00000F00;
inline constexpr std::uint32_t MBX_SYSTEMMODAL = 0x00001000;
inline constexpr std::uint32_t MBX_HELP = 0x00004000;
inline constexpr std::uint32_t MBX_SETFOREGROUND = 0x00010000;
inline constexpr std::uint32_t MBX_TOPMOST = 0x00040000;
inline constexpr std::uint32_t MBX_RIGHT = 0x00080000;
inline constexpr std::uint32_t MBX_RTLREADING = 0x00100000;

// Button ids: the system's and the box's own.
enum : int {
  IDOK = 1,
  IDCANCEL = 2,
  IDABORT = 3,
  IDRETRY = 4,
  IDIGNORE = 5,
  IDYES = 6,
  IDNO = 7,
  IDHELP = 9,
  IDTRYAGAIN = 10,
  IDCONTINUE = 11,
  IDYESTOALL = 14,
  IDNOTOALL = 15,
  IDSKIP = 16,
  IDSKIPALL = 17,
  IDIGNOREALL = 18,
  IDC_MBX_CHECKBOX = 19,
};

// String-table ids of the captions.
inline constexpr std::uint32_t IDS_MBX_DONT_SHOW_AGAIN = 4515;
inline constexpr std::uint32_t IDS_MBX_DONT_ASK_AGAIN = 4516;

// The profile section of remembered answers.
inline constexpr const char* kProfileSection = "MessageBoxes";
inline constexpr const char* kProfileKey = "Software\\Halvane\\Tovrin\\MessageBoxes";

struct tagMSGBOXBTN {
  int id;
  std::uint32_t captionId;  // string-table id of the caption
};

// A style's buttons in display order, with the default and escape button
// ids (-1: none).
struct TButtonSet {
  std::vector<tagMSGBOXBTN> buttons;
  int defaultId = -1;
  int escapeId = -1;
};
TButtonSet BuildButtonSet(std::uint32_t style);

// The caption of a string-table id ("" when the table has none).
QString LoadCaption(std::uint32_t captionId);
// The caption of a button id ("" for an unknown id).
QString ButtonCaption(int buttonId);

// The profile key of a box: the help id in decimal when it is non-zero,
// otherwise the 32-bit sum over the message's UTF-16 characters of
// index x character (wrapping), printed as a signed decimal.
std::string RememberKey(const QString& message, std::uint32_t helpId);

// Where remembered answers are kept (nullptr: the running application's
// store). Not owned.
void SetProfileStore(platform::qt::CRegistryAccess* store);
platform::qt::CRegistryAccess& ProfileStore();
// Forgets `store` when it is the one installed (its owner goes away).
void ReleaseProfileStore(const platform::qt::CRegistryAccess* store);

// The sound a box plays when it opens, with the style's icon bits
// (style & 0xF0; 0 is the default sound). Empty: the system's beep.
using TBeepHook = std::function<void(std::uint32_t iconBits)>;
void SetBeepHook(TBeepHook hook);

class CMessageBoxDlg : public QDialog {
  Q_OBJECT
 public:
  CMessageBoxDlg(QWidget* parent, const QString& message, const QString& caption, std::uint32_t style,
                 std::uint32_t helpId = 0);
  ~CMessageBoxDlg() override;

  // The button chosen, or a remembered answer (shown nothing then).
  int DoModal();

  // Set before DoModal.
  QIcon m_hIcon;
  std::int32_t m_nCountdown = 0;
  bool m_bLockButtons = false;
  bool m_bRemember = false;
  // After DoModal: whether the check box was ticked.
  bool m_bChecked = false;

  const QString& Message() const { return m_strMessage; }
  const QString& Caption() const { return m_strCaption; }
  std::uint32_t Style() const { return m_nStyle; }
  const std::string& RememberKeyText() const { return m_strRememberKey; }
  const std::vector<tagMSGBOXBTN>& Buttons() const { return m_aButtons; }
  int DefaultButtonId() const { return m_nDefaultButton; }
  int EscapeButtonId() const { return m_nEscapeButton; }

  // Runs the box's set-up (DoModal does it); tests use it to look at the box.
  void OnInitDialog();
  QPushButton* Button(int id) const;
  QCheckBox* CheckBox() const { return m_pCheckBox; }
  QLabel* TextLabel() const { return m_pText; }
  QLabel* IconLabel() const { return m_pIcon; }
  bool CountdownRunning() const;

  // One countdown tick (the timer calls it every second).
  void OnTimer();
  // Ends the box with a button's id, storing the answer when asked to.
  void EndWith(int id);

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool Locked() const;
  void SetCountdownCaption();
  bool HasCheckBoxStyle() const;

  QString m_strMessage;
  QString m_strCaption;
  std::uint32_t m_nStyle = 0;
  std::uint32_t m_nHelpId = 0;
  std::string m_strRememberKey;
  std::vector<tagMSGBOXBTN> m_aButtons;
  int m_nDefaultButton = -1;
  int m_nEscapeButton = -1;
  bool m_bInitDone = false;
  QTimer* m_pTimer = nullptr;
  QLabel* m_pIcon = nullptr;
  QLabel* m_pText = nullptr;
  QCheckBox* m_pCheckBox = nullptr;
  std::vector<QPushButton*> m_buttonWidgets;
};

}  // namespace MessageBoxDlg
