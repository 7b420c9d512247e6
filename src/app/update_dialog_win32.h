// The update window of the Windows updater (mubax-updater.exe): a modal dialog built from template
// 102 whose first timer tick runs the update engine, and the engine's host while it runs.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/logging_host.h"
#include "app/first_start_watch_session.h"
#include "app/started_process.h"
#include "update/update_engine.h"
#include "update/update_host.h"

class UpdateDialog : public RunHost, public ProgressSink {
 public:
  // Loads icon 128 from `instance` (no icon when it is missing) and builds the log, which reads
  // its configuration (INI file, registry) now. The window itself is made by DoModal.
  explicit UpdateDialog(HINSTANCE instance, HWND parent = nullptr);
  ~UpdateDialog() override = default;
  UpdateDialog(const UpdateDialog&) = delete;
  UpdateDialog& operator=(const UpdateDialog&) = delete;

  // Shows the dialog and returns when it has closed: IDOK after an update run, IDCANCEL after
  // Escape, -1 when the window could not be made. Call once per object.
  INT_PTR DoModal();

  // After DoModal, with the window gone: with the setting vigilarArranque on and a release
  // installed, watches its first start and keeps it or goes back to the previous version. The
  // log stays this dialog's. Returns at once otherwise. Then sends the run's report (setting
  // urlInforme), when a run was made.
  void WatchFirstStart();

  // Message handlers, called by the dialog procedure while the window exists.
  // Sets the icons and arms the start timer; returns TRUE so the system sets the focus.
  BOOL OnInitDialog();
  // The first tick runs the update (which ends the dialog); any later tick does nothing. Kills the
  // timer that ticked.
  void OnTimer(UINT_PTR eventId);
  // Enter: restarts the half-second wait; never closes the dialog.
  void OnOK();
  // Escape before the run: starts the main application and closes the dialog without updating.
  void OnCancel();
  // Paints the icon when minimised; returns false when the default painting should run instead.
  bool OnPaint();
  HICON OnQueryDragIcon() const { return m_icon; }

  // The run's host and progress: what the engine drives during the run.
  bool TakeUpdateTurn() override { return true; }
  void ReportRunOutcome(const RunSummary& /*summary*/) override {}
  void SetProgressRange(std::uint16_t upper) override;
  void SetProgressPos(int position) override;
  void ShowDownloadProgress(int staged, int documents) override;
  void LaunchMainApplication() override;
  void EndRun() override;

 private:
  // Waiting: before the first tick. Running: inside the update run. Closing: the dialog has been
  // ended (by the run or by Escape) and only awaits destruction.
  enum class Stage { kWaiting, kRunning, kClosing };

  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void RunUpdateOnce();

  HINSTANCE m_instance;
  HWND m_parent;
  HWND m_window = nullptr;
  HWND m_progress = nullptr;  // control 1002, a child of m_window
  // Shared icon from LoadIcon: the system owns it and it must not be destroyed.
  HICON m_icon = nullptr;
  DiskFileSink m_sink;
  RunLogFile m_log;
  // Declared after the log: the watch's last lines are written before the log goes.
  FirstStartWatchSession m_watch;
  StartedProcess m_started;
  Stage m_stage = Stage::kWaiting;
  RunSummary m_summary;  // of the run, for the report after the watch
  bool m_ran = false;
};
