#pragma once
// The "Custom Zoom" dialog: a magnification in percent for each video pane
// (10 .. 1000), or one for all panes. It reads and writes the document's
// zoom settings through its owner window (the controller pane) with
// WM_APP_ZOOM_SETTINGS.

#include <QDialog>

#include "document/zoom.h"

class QCheckBox;
class QSpinBox;

namespace ZoomMode {

class CZoomMode : public QDialog {
  Q_OBJECT
 public:
  explicit CZoomMode(QWidget* owner);

  // Reads the settings from the owner into the controls; false (after
  // telling the user) when the owner did not answer. Runs when the dialog
  // first shows.
  bool ReadSettings();

  // OK: the values are clamped to 10 .. 1000 percent and written to the
  // owner; the dialog closes only when the owner took them.
  void accept() override;

  QCheckBox* SameFactorBox() const { return m_pSame; }
  QSpinBox* PercentBox(int pane) const { return m_pPercent[pane]; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void OnSameFactorToggled(bool same);

  QWidget* m_pOwner;
  QCheckBox* m_pSame = nullptr;
  QSpinBox* m_pPercent[4] = {};
  int m_nPercent[4] = {100, 100, 100, 100};
  ZarnTypes::TZoomExchange m_Block;
  bool m_bRead = false;
};

}  // namespace ZoomMode
