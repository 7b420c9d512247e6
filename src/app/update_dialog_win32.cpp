// The update window of the Windows updater (mubax-updater.exe): dialog procedure, timer start of
// the update run, Enter/Escape handling, minimised icon, and the engine's progress bar and log.
#include "app/update_dialog_win32.h"

#include <commctrl.h>

#include "app/launcher.h"
#include "app/resource.h"
#include "app/update_session.h"

namespace {

constexpr UINT_PTR kStartTimerId = 1;
constexpr UINT kStartDelayMilliseconds = 500;

// One BeginPaint/EndPaint pair: EndPaint runs on every path out of the paint handler.
class PaintScope {
 public:
  explicit PaintScope(HWND window) : m_window(window), m_dc(::BeginPaint(window, &m_paint)) {}
  ~PaintScope() { ::EndPaint(m_window, &m_paint); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  HDC Get() const { return m_dc; }

 private:
  HWND m_window;
  PAINTSTRUCT m_paint = {};
  HDC m_dc;
};

}  // namespace

UpdateDialog::UpdateDialog(HINSTANCE instance, HWND parent)
    : m_instance(instance),
      m_parent(parent),
      m_icon(::LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_watch(m_sink) {}

INT_PTR UpdateDialog::DoModal() {
  return ::DialogBoxParamA(m_instance, MAKEINTRESOURCEA(IDD_UPDATE_DIALOG), m_parent, &DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK UpdateDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  UpdateDialog* dialog = nullptr;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<UpdateDialog*>(lParam);
    dialog->m_window = window;
    ::SetWindowLongPtrA(window, DWLP_USER, lParam);
  } else {
    dialog = reinterpret_cast<UpdateDialog*>(::GetWindowLongPtrA(window, DWLP_USER));
  }
  // WM_SETFONT and a few others arrive before WM_INITDIALOG: the dialog manager handles them.
  if (dialog == nullptr) return FALSE;
  // An exception must not unwind through the system's frames.
  try {
    return dialog->HandleMessage(message, wParam, lParam);
  } catch (...) {
    return FALSE;
  }
}

INT_PTR UpdateDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_TIMER:
      OnTimer(static_cast<UINT_PTR>(wParam));
      return TRUE;
    case WM_COMMAND:
      // The buttons are hidden: IDOK comes from Enter, IDCANCEL from Escape (or a WM_CLOSE).
      switch (LOWORD(wParam)) {
        case IDOK:
          OnOK();
          return TRUE;
        case IDCANCEL:
          OnCancel();
          return TRUE;
        default:
          return FALSE;
      }
    case WM_PAINT:
      return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      // One of the messages whose dialog procedure result is the answer itself.
      return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    default:
      return FALSE;
  }
}

BOOL UpdateDialog::OnInitDialog() {
  m_progress = ::GetDlgItem(m_window, IDC_PROGRESS);
  ::SendMessageA(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
  ::SendMessageA(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
  ::SetTimer(m_window, kStartTimerId, kStartDelayMilliseconds, nullptr);
  return TRUE;
}

void UpdateDialog::OnTimer(UINT_PTR eventId) {
  // The run ends the dialog itself, but the dialog lives on until its message loop sees that; a
  // tick delivered meanwhile (or by a message loop nested in the run) must not start a second run.
  if (m_stage == Stage::kWaiting) RunUpdateOnce();
  ::KillTimer(m_window, eventId);
}

void UpdateDialog::RunUpdateOnce() {
  m_stage = Stage::kRunning;
  // One fetcher for the run: the manifest and every document share its connections. The session
  // launches the main application and closes the window on every path, whatever escapes the run.
  NetworkFetcher fetcher;
  m_summary = RunUpdateSession(UpdateHosts(*this, *this, m_log), m_sink, fetcher,
                               kRunLockWaitMilliseconds, &m_watch);
  m_ran = true;
}

void UpdateDialog::WatchFirstStart() {
  const FirstStartWatchOutcome watch = m_watch.WatchAndConclude(m_started, kLaunchWaitMilliseconds);
  // After the launch and the window: the till is selling before its report is on the line. A
  // run cancelled before it began has nothing to report.
  if (!m_ran) return;
  NetworkFetcher fetcher;
  SendRunReportAfterLaunch(m_summary, watch, fetcher);
}

void UpdateDialog::OnOK() {
  if (m_stage != Stage::kWaiting) return;
  // Re-arming an existing timer restarts its period.
  ::SetTimer(m_window, kStartTimerId, kStartDelayMilliseconds, nullptr);
}

void UpdateDialog::OnCancel() {
  // During the run the run itself launches and closes; after it there is nothing left to do.
  if (m_stage != Stage::kWaiting) return;
  m_stage = Stage::kClosing;
  // The launcher waits a second first: a tick due meanwhile must find the update cancelled.
  ::KillTimer(m_window, kStartTimerId);
  ::LaunchMainApplication(kLaunchWaitMilliseconds);
  ::EndDialog(m_window, IDCANCEL);
}

bool UpdateDialog::OnPaint() {
  if (!::IsIconic(m_window)) return false;
  PaintScope paint(m_window);
  ::SendMessageA(m_window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.Get()), 0);
  RECT client = {};
  ::GetClientRect(m_window, &client);
  const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
  ::DrawIcon(paint.Get(), x, y, m_icon);
  return true;
}

void UpdateDialog::SetProgressRange(std::uint16_t upper) {
  ::SendMessageA(m_progress, PBM_SETRANGE, 0, MAKELPARAM(0, upper));
}

void UpdateDialog::SetProgressPos(int position) {
  ::SendMessageA(m_progress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void UpdateDialog::ShowDownloadProgress(int staged, int documents) {
  // The same bar, counting documents: a long download on a slow line is seen to go on.
  SetProgressRange(static_cast<std::uint16_t>(documents));
  SetProgressPos(staged);
}

void UpdateDialog::LaunchMainApplication() {
  ::LaunchMainApplication(kLaunchWaitMilliseconds, &m_started);
}

void UpdateDialog::EndRun() {
  m_stage = Stage::kClosing;
  ::EndDialog(m_window, IDOK);
}
