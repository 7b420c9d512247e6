// Entry of the Windows updater (mubax-updater.exe): OLE and the progress bar class are set up,
// then the update dialog runs modally; the process ends when it closes. No arguments are read.
#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include "app/update_dialog_win32.h"

namespace {

// OLE for the thread that hosts the dialog, released after the dialog (and its log) are gone.
class OleScope {
 public:
  OleScope() : m_initialised(SUCCEEDED(::OleInitialize(nullptr))) {}
  ~OleScope() {
    if (m_initialised) ::OleUninitialize();
  }
  OleScope(const OleScope&) = delete;
  OleScope& operator=(const OleScope&) = delete;

 private:
  bool m_initialised;
};

}  // namespace

class UpdaterApp {
 public:
  explicit UpdaterApp(HINSTANCE instance) : m_instance(instance) {}

  // Runs the update dialog to its end and returns false: there is no message loop of the
  // application's own afterwards, so the process ends.
  bool InitInstance();

 private:
  HINSTANCE m_instance;
};

bool UpdaterApp::InitInstance() {
  // Without OLE the XML layer cannot create its documents; the run then fails, logs and still
  // launches the main application, so a failure here is not fatal.
  OleScope ole;

  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_PROGRESS_CLASS;
  ::InitCommonControlsEx(&controls);

  UpdateDialog dialog(m_instance, nullptr);
  dialog.DoModal();
  // The window has closed, as it always did; a release under watch is watched from here.
  dialog.WatchFirstStart();
  return false;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*showCommand*/) {
  try {
    UpdaterApp app(instance);
    app.InitInstance();
  } catch (...) {
    // Nothing is shown to the user and nothing leaves the process but its exit code.
  }
  return 0;
}
