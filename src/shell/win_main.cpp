// The program's entry point: template, common controls, then the main window
// as a modal dialog until it closes.
#include <windows.h>
#include <commctrl.h>

#include "app_state.h"
#include "main_window.h"
#include "output_template.h"
#include "resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previousInstance*/, LPSTR commandTail,
                   int /*showCommand*/) {
  BuildOutputTemplate(commandTail, appState.outputTemplate);
  appState.instance = instance;
  // Registered before the window exists, so no restart of Explorer is missed.
  appState.taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");

  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS;
  if (!InitCommonControlsEx(&controls)) {
    MessageBoxA(nullptr, "Failed to Initialize Application", "Failure!", MB_ICONERROR);
    return 1;
  }
  if (DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0) == -1) {
    MessageBoxA(nullptr, "Failed to create main dialog box.", "Failure!", MB_ICONERROR);
    return 1;
  }
  return 0;
}
