#include "thermometer.h"

#include <process.h>

#include <algorithm>
#include <vector>

#include "app_state.h"
#include "hid_api.h"
#include "temperature_reading.h"
#include "thermometer_device.h"

namespace {

constexpr DWORD POLL_INTERVAL_MS = 2000;
constexpr DWORD REPORT_WAIT_MS = 300;
// A report already queued by the HID class driver completes at once (under
// Wine ReadFile itself returns it, in well under 1 ms); a read still pending
// after this time is waiting for a fresh report.
constexpr DWORD QUEUED_REPORT_WAIT_MS = 20;
// hidclass queues reports per handle (32 by default) and a device may report
// far faster than we poll; 2 is the smallest queue Windows allows.
constexpr ULONG INPUT_BUFFERS = 2;
// Bounds the drain when a device reports faster than the queue empties.
constexpr int MAX_READS_PER_POLL = 40;

// AppState::readerHandOver.
constexpr int32_t HANDOVER_IDLE = 0;
constexpr int32_t HANDOVER_REOPEN = 1;  // a start was left to the running reader
constexpr int32_t HANDOVER_ENDING = 2;  // the reader has decided to end

enum class ReadOutcome { Report, Pending, Failed };

// The length of the device's input report, or 0 when it cannot be read
// (no capabilities, or a report too short to carry a temperature).
DWORD InputReportLength(HANDLE device) {
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!HidD_GetPreparsedData(device, &preparsed)) return 0;
  HIDP_CAPS caps = {};
  NTSTATUS status = HidP_GetCaps(preparsed, &caps);
  HidD_FreePreparsedData(preparsed);
  if (status != HIDP_STATUS_SUCCESS || caps.InputReportByteLength < REPORT_MIN_LENGTH) return 0;
  return caps.InputReportByteLength;
}

BOOL CompletedWithReport(HANDLE device, OVERLAPPED* overlapped, BOOL wait) {
  DWORD bytesRead = 0;
  return GetOverlappedResult(device, overlapped, &bytesRead, wait) &&
         bytesRead >= REPORT_MIN_LENGTH;
}

// Starts one read and waits up to waitMs for it. Pending leaves the read
// outstanding; the caller finishes it.
ReadOutcome StartRead(HANDLE device, OVERLAPPED* overlapped, std::vector<unsigned char>& buffer,
                      DWORD length, DWORD waitMs) {
  DWORD bytesRead = 0;
  if (!ReadFile(device, buffer.data(), length, &bytesRead, overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    return ReadOutcome::Failed;  // e.g. unplugged: nothing is outstanding
  }
  if (WaitForSingleObject(overlapped->hEvent, waitMs) != WAIT_OBJECT_0) return ReadOutcome::Pending;
  return CompletedWithReport(device, overlapped, FALSE) ? ReadOutcome::Report
                                                        : ReadOutcome::Failed;
}

// Waits for an outstanding read, cancelling it after waitMs. The read has
// finished when this returns, so its buffer and OVERLAPPED may be reused.
BOOL FinishRead(HANDLE device, OVERLAPPED* overlapped, DWORD waitMs) {
  if (WaitForSingleObject(overlapped->hEvent, waitMs) == WAIT_OBJECT_0) {
    return CompletedWithReport(device, overlapped, FALSE);
  }
  CancelIo(device);
  // TRUE when the report came just before the cancel took effect.
  return CompletedWithReport(device, overlapped, TRUE);
}

// One poll: reads every report the driver has queued, keeping the newest,
// then waits (up to REPORT_WAIT_MS in all) for a fresh one. Leaves the
// newest report in `report`; FALSE when none came.
BOOL PollNewestReport(HANDLE device, OVERLAPPED* overlapped, DWORD length,
                      std::vector<unsigned char>& readBuffer, std::vector<unsigned char>& report) {
  BOOL haveReport = FALSE;
  for (int reads = 0; reads < MAX_READS_PER_POLL; ++reads) {
    switch (StartRead(device, overlapped, readBuffer, length, QUEUED_REPORT_WAIT_MS)) {
      case ReadOutcome::Report:
        report = readBuffer;
        haveReport = TRUE;
        break;
      case ReadOutcome::Failed:
        return haveReport;
      case ReadOutcome::Pending:
        // The queue is empty: this read now waits for a fresh report.
        if (FinishRead(device, overlapped, REPORT_WAIT_MS - QUEUED_REPORT_WAIT_MS)) {
          report = readBuffer;
          haveReport = TRUE;
        }
        return haveReport;
    }
  }
  return haveReport;
}

BOOL ReaderToLeave() {
  return appState.stopReader.load() != 0 || appState.readerHandOver.load() == HANDOVER_REOPEN;
}

// One run over the device as found now, until the reader is told to stop or
// to reopen the device. Delivers each poll's newest report to window.
void ReadThermometer(HWND window) {
  // Any start asked of this reader so far is served by the search below.
  appState.readerHandOver.store(HANDOVER_IDLE);
  HANDLE device = INVALID_HANDLE_VALUE;
  if (!FindThermometer(&device)) return;  // stopReader stays 0

  DWORD length = InputReportLength(device);
  // If the queue cannot be shortened, the drain still empties it each poll.
  HidD_SetNumInputBuffers(device, INPUT_BUFFERS);
  HANDLE readEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  // An unreadable device keeps the reader polling the flags, but never read.
  if (readEvent == nullptr) length = 0;
  OVERLAPPED overlapped = {};
  overlapped.hEvent = readEvent;
  // Sized from the device's report, never less than decoding needs.
  std::vector<unsigned char> readBuffer(std::max<DWORD>(length, REPORT_MIN_LENGTH));
  std::vector<unsigned char> report(readBuffer.size());

  while (!ReaderToLeave()) {
    if (length != 0 && PollNewestReport(device, &overlapped, length, readBuffer, report)) {
      SendMessageA(window, WM_TEMPERATURE, static_cast<WPARAM>(DecodeReport(report.data())), 0);
    }
    Sleep(POLL_INTERVAL_MS);
  }
  if (readEvent != nullptr) CloseHandle(readEvent);
  CloseHandle(device);
}

// After a run: FALSE ends the reader, clearing readerRunning. A start that
// came meanwhile (and found readerRunning set) is taken over here, so that
// a reader on its way out never leaves a wanted reader unstarted.
BOOL KeepReading() {
  for (;;) {
    int32_t expected = HANDOVER_IDLE;
    if (appState.readerHandOver.compare_exchange_strong(expected, HANDOVER_ENDING)) {
      appState.readerRunning.store(0);
      appState.readerHandOver.store(HANDOVER_IDLE);
      return FALSE;
    }
    // HANDOVER_REOPEN: a start came; serve it unless a stop followed it.
    appState.readerHandOver.store(HANDOVER_IDLE);
    if (appState.stopReader.load() == 0) return TRUE;
  }
}

}  // namespace

void StartReader(HWND window) {
  appState.stopReader.store(0);
  for (;;) {
    int32_t expected = HANDOVER_IDLE;
    if (appState.readerHandOver.compare_exchange_strong(expected, HANDOVER_REOPEN)) {
      // A reader that has not decided to end sees the request after its sleep.
      if (appState.readerRunning.load() != 0) return;
      appState.readerHandOver.store(HANDOVER_IDLE);
      break;
    }
    if (expected == HANDOVER_REOPEN) return;  // asked already
    // HANDOVER_ENDING: the old reader is two stores from gone.
    SwitchToThread();
  }
  // Set before the thread runs: the close sequence must count a reader that
  // has been started but not yet scheduled.
  appState.readerRunning.store(1);
  if (_beginthread(ThermometerReader, 0, window) == static_cast<uintptr_t>(-1)) {
    appState.readerRunning.store(0);
  }
}

void __cdecl ThermometerReader(void* window) {
  appState.readerRunning.store(1);
  do {
    ReadThermometer(static_cast<HWND>(window));
  } while (KeepReading());
}
