// The virtual thermometer: a HID minidriver that hidclass.sys loads for each
// root-enumerated unit (see vthermo_ioctl.h), plus a control device through
// which tests set the value, pace or silence the reports.
//
// Each unit has a worker thread that completes hidclass's pending read once
// per interval, as a real device paces its interrupt reports; hidclass keeps
// its own queue of reports per open handle on top of that.
#include <ntddk.h>

#include "vthermo_ioctl.h"

// hidport.h is not part of mingw-w64, and its ddk/hidclass.h carries wrong
// IOCTL codes: the documented declarations a minidriver needs.
#define HID_REVISION 0x00000001
#define HID_CTL_CODE(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_NEITHER, FILE_ANY_ACCESS)
#define VT_IOCTL_HID_GET_DEVICE_DESCRIPTOR HID_CTL_CODE(0)
#define VT_IOCTL_HID_GET_REPORT_DESCRIPTOR HID_CTL_CODE(1)
#define VT_IOCTL_HID_READ_REPORT HID_CTL_CODE(2)
#define VT_IOCTL_HID_WRITE_REPORT HID_CTL_CODE(3)
#define VT_IOCTL_HID_GET_STRING HID_CTL_CODE(4)
#define VT_IOCTL_HID_ACTIVATE_DEVICE HID_CTL_CODE(7)
#define VT_IOCTL_HID_DEACTIVATE_DEVICE HID_CTL_CODE(8)
#define VT_IOCTL_HID_GET_DEVICE_ATTRIBUTES HID_CTL_CODE(9)

typedef struct VT_HID_MINIDRIVER_REGISTRATION {
  ULONG Revision;
  PDRIVER_OBJECT DriverObject;
  PUNICODE_STRING RegistryPath;
  ULONG DeviceExtensionSize;
  BOOLEAN DevicesArePolled;
  UCHAR Reserved[3];
} VT_HID_MINIDRIVER_REGISTRATION;

typedef struct VT_HID_DEVICE_EXTENSION {
  PDEVICE_OBJECT PhysicalDeviceObject;
  PDEVICE_OBJECT NextDeviceObject;
  PVOID MiniDeviceExtension;
} VT_HID_DEVICE_EXTENSION;

#include <pshpack1.h>
typedef struct VT_HID_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT bcdHID;
  UCHAR bCountry;
  UCHAR bNumDescriptors;
  UCHAR bReportType;
  USHORT wReportLength;
} VT_HID_DESCRIPTOR;
#include <poppack.h>

typedef struct VT_HID_DEVICE_ATTRIBUTES {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
  USHORT Reserved[11];
} VT_HID_DEVICE_ATTRIBUTES;

NTSTATUS NTAPI HidRegisterMinidriver(VT_HID_MINIDRIVER_REGISTRATION* registration);

// Vendor-defined collection, no report ID: one 16-bit signed value.
static const UCHAR thermometerReport[] = {
    0x06, 0x00, 0xFF,        // Usage Page (vendor 0xFF00)
    0x09, 0x01,              // Usage (1)
    0xA1, 0x01,              // Collection (Application)
    0x09, 0x02,              //   Usage (2)
    0x16, 0x00, 0x80,        //   Logical Minimum (-32768)
    0x26, 0xFF, 0x7F,        //   Logical Maximum (32767)
    0x75, 0x10,              //   Report Size (16)
    0x95, 0x01,              //   Report Count (1)
    0x81, 0x02,              //   Input (Data, Variable, Absolute)
    0xC0,                    // End Collection
};

// The same value followed by 29 bytes of padding: a 32-byte input report
// (with hidclass's report ID byte), longer than a thermometer's.
static const UCHAR longReport[] = {
    0x06, 0x00, 0xFF,        // Usage Page (vendor 0xFF00)
    0x09, 0x01,              // Usage (1)
    0xA1, 0x01,              // Collection (Application)
    0x09, 0x02,              //   Usage (2)
    0x16, 0x00, 0x80,        //   Logical Minimum (-32768)
    0x26, 0xFF, 0x7F,        //   Logical Maximum (32767)
    0x75, 0x10,              //   Report Size (16)
    0x95, 0x01,              //   Report Count (1)
    0x81, 0x02,              //   Input (Data, Variable, Absolute)
    0x09, 0x03,              //   Usage (3)
    0x15, 0x00,              //   Logical Minimum (0)
    0x26, 0xFF, 0x00,        //   Logical Maximum (255)
    0x75, 0x08,              //   Report Size (8)
    0x95, 0x1D,              //   Report Count (29)
    0x81, 0x02,              //   Input (Data, Variable, Absolute)
    0xC0,                    // End Collection
};

#define THERMOMETER_DATA_BYTES 2
#define LONG_DATA_BYTES 31
// Filler for the bytes after the value: easy to spot when misread.
#define LONG_FILLER 0xEE

typedef struct UnitInfo {
  const WCHAR* instance;  // instance part of the unit's device instance ID
  USHORT productId;
  const UCHAR* reportDescriptor;
  USHORT reportDescriptorLength;
  ULONG dataBytes;  // input report without the report ID byte
  const WCHAR* rawValueName;
} UnitInfo;

static const UnitInfo unitInfo[VTHERMO_UNIT_COUNT] = {
    {L"0000", 0x0003, thermometerReport, sizeof(thermometerReport), THERMOMETER_DATA_BYTES, L"Raw0"},
    {L"7&2F1C0B55&0&0001", 0x0003, thermometerReport, sizeof(thermometerReport), THERMOMETER_DATA_BYTES, L"Raw1"},
    {L"0002", 0x0004, thermometerReport, sizeof(thermometerReport), THERMOMETER_DATA_BYTES, L"Raw2"},
    {L"0003", 0x0003, longReport, sizeof(longReport), LONG_DATA_BYTES, L"Raw3"},
};

// Live state of a unit, shared by the dispatch routines, the worker thread
// and the control device; single words changed with interlocked calls.
typedef struct UnitState {
  volatile LONG started;
  volatile LONG raw;
  volatile LONG intervalMs;
  volatile LONG answering;
  volatile LONG reports;
  PIRP volatile pendingRead;
  KEVENT wake;    // interval or answering changed, or unloading
  KEVENT exited;  // the worker has finished
} UnitState;

typedef struct MiniExtension {
  ULONG unit;
} MiniExtension;

static UnitState units[VTHERMO_UNIT_COUNT];
static volatile LONG unloading;
static PDEVICE_OBJECT controlDevice;
static UNICODE_STRING controlLink;
static PDRIVER_DISPATCH hidCreate;
static PDRIVER_DISPATCH hidClose;
static PDRIVER_DISPATCH hidDeviceControl;

static MiniExtension* GetMini(PDEVICE_OBJECT device) {
  return (MiniExtension*)((VT_HID_DEVICE_EXTENSION*)device->DeviceExtension)->MiniDeviceExtension;
}

static PDEVICE_OBJECT GetNext(PDEVICE_OBJECT device) {
  return ((VT_HID_DEVICE_EXTENSION*)device->DeviceExtension)->NextDeviceObject;
}

static NTSTATUS CompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static BOOLEAN SameText(const WCHAR* a, const WCHAR* b) {
  while (*a && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

// Asks the bus device for its instance ID, as hidclass itself does.
static LONG FindUnit(PDEVICE_OBJECT pdo) {
  KEVENT event;
  IO_STATUS_BLOCK io;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_PNP, pdo, NULL, 0, NULL, &event, &io);
  if (!irp) return -1;
  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
  stack->MinorFunction = IRP_MN_QUERY_ID;
  stack->Parameters.QueryId.IdType = BusQueryInstanceID;
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  if (IoCallDriver(pdo, irp) == STATUS_PENDING)
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
  if (!NT_SUCCESS(io.Status) || !io.Information) return -1;
  WCHAR* id = (WCHAR*)io.Information;
  LONG found = -1;
  for (LONG i = 0; i < VTHERMO_UNIT_COUNT; ++i) {
    if (SameText(id, unitInfo[i].instance)) found = i;
  }
  ExFreePool(id);
  return found;
}

// The starting value the control library left for this unit.
static LONG ReadStartingRaw(ULONG unit) {
  LONG raw = 290;
  UNICODE_STRING keyName;
  UNICODE_STRING valueName;
  OBJECT_ATTRIBUTES attributes;
  HANDLE key;
  RtlInitUnicodeString(&keyName, VTHERMO_REGISTRY_KEY_NT);
  RtlInitUnicodeString(&valueName, unitInfo[unit].rawValueName);
  InitializeObjectAttributes(&attributes, &keyName, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) return raw;
  union {
    KEY_VALUE_PARTIAL_INFORMATION info;
    UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
  } value;
  ULONG length = 0;
  if (NT_SUCCESS(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, &value, sizeof(value), &length)) &&
      value.info.Type == REG_DWORD && value.info.DataLength == sizeof(ULONG)) {
    raw = (SHORT)(*(ULONG*)value.info.Data & 0xFFFF);
  }
  ZwClose(key);
  return raw;
}

// Hands back hidclass's pending read with the current value.
static void DeliverReport(ULONG unit) {
  UnitState* state = &units[unit];
  PIRP irp = (PIRP)InterlockedExchangePointer((PVOID volatile*)&state->pendingRead, NULL);
  if (!irp) return;
  UCHAR* buffer = (UCHAR*)irp->UserBuffer;
  ULONG length = unitInfo[unit].dataBytes;
  USHORT raw = (USHORT)(SHORT)state->raw;
  buffer[0] = (UCHAR)(raw & 0xFF);
  buffer[1] = (UCHAR)(raw >> 8);
  for (ULONG i = 2; i < length; ++i) buffer[i] = LONG_FILLER;
  InterlockedIncrement(&state->reports);
  CompleteIrp(irp, STATUS_SUCCESS, length);
}

// A read held pending when the device goes must be released, or hidclass
// waits for it forever and the removal never ends.
static void ReleaseRead(ULONG unit) {
  PIRP irp = (PIRP)InterlockedExchangePointer((PVOID volatile*)&units[unit].pendingRead, NULL);
  if (irp) CompleteIrp(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
}

static VOID NTAPI UnitWorker(PVOID context) {
  ULONG unit = (ULONG)(ULONG_PTR)context;
  UnitState* state = &units[unit];
  while (!unloading) {
    LARGE_INTEGER timeout;
    timeout.QuadPart = -10000LL * state->intervalMs;
    NTSTATUS status = KeWaitForSingleObject(&state->wake, Executive, KernelMode, FALSE, &timeout);
    // A wake means the pace changed: start a new interval.
    if (status == STATUS_TIMEOUT && state->answering && state->started) DeliverReport(unit);
  }
  KeSetEvent(&state->exited, IO_NO_INCREMENT, FALSE);
}

static NTSTATUS CopyOut(PIRP irp, const void* data, ULONG length) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->Parameters.DeviceIoControl.OutputBufferLength < length)
    return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 0);
  RtlCopyMemory(irp->UserBuffer, data, length);
  return CompleteIrp(irp, STATUS_SUCCESS, length);
}

static NTSTATUS GetString(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  // The string ID travels in the pointer itself; Wine asks for 1/2/3,
  // Windows documents 14/15/16.
  ULONG id = (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xFFFF;
  static const WCHAR manufacturer[] = L"Quorvel tests";
  static const WCHAR product[] = L"Virtual thermometer";
  static const WCHAR serial[] = L"VT0001";
  switch (id) {
    case 1:
    case 14:
      return CopyOut(irp, manufacturer, sizeof(manufacturer));
    case 2:
    case 15:
      return CopyOut(irp, product, sizeof(product));
    case 3:
    case 16:
      return CopyOut(irp, serial, sizeof(serial));
    default:
      return CompleteIrp(irp, STATUS_INVALID_PARAMETER, 0);
  }
}

static NTSTATUS QueueRead(ULONG unit, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  UnitState* state = &units[unit];
  if (!state->started) return CompleteIrp(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  if (stack->Parameters.DeviceIoControl.OutputBufferLength < unitInfo[unit].dataBytes)
    return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 0);
  IoMarkIrpPending(irp);
  PIRP previous = (PIRP)InterlockedExchangePointer((PVOID volatile*)&state->pendingRead, irp);
  // hidclass keeps one read outstanding; a second would be a fault of ours.
  if (previous) CompleteIrp(previous, STATUS_CANCELLED, 0);
  // The device may have gone while the read was being queued.
  if (!state->started) ReleaseRead(unit);
  return STATUS_PENDING;
}

static NTSTATUS NTAPI InternalControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG unit = GetMini(device)->unit;
  const UnitInfo* info = &unitInfo[unit];
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case VT_IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
      VT_HID_DESCRIPTOR descriptor;
      RtlZeroMemory(&descriptor, sizeof(descriptor));
      descriptor.bLength = sizeof(descriptor);
      descriptor.bDescriptorType = 0x21;  // HID
      descriptor.bcdHID = 0x0111;
      descriptor.bNumDescriptors = 1;
      descriptor.bReportType = 0x22;  // report descriptor
      descriptor.wReportLength = info->reportDescriptorLength;
      return CopyOut(irp, &descriptor, sizeof(descriptor));
    }
    case VT_IOCTL_HID_GET_REPORT_DESCRIPTOR:
      return CopyOut(irp, info->reportDescriptor, info->reportDescriptorLength);
    case VT_IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
      VT_HID_DEVICE_ATTRIBUTES attributes;
      RtlZeroMemory(&attributes, sizeof(attributes));
      attributes.Size = sizeof(attributes);
      attributes.VendorID = 0x0000;
      attributes.ProductID = info->productId;
      attributes.VersionNumber = 0x0100;
      return CopyOut(irp, &attributes, sizeof(attributes));
    }
    case VT_IOCTL_HID_GET_STRING:
      return GetString(irp);
    case VT_IOCTL_HID_READ_REPORT:
      return QueueRead(unit, irp);
    case VT_IOCTL_HID_ACTIVATE_DEVICE:
    case VT_IOCTL_HID_DEACTIVATE_DEVICE:
      return CompleteIrp(irp, STATUS_SUCCESS, 0);
    default:
      return CompleteIrp(irp, STATUS_NOT_SUPPORTED, 0);
  }
}

static void Restart(UnitState* state, LONG raw) {
  InterlockedExchange(&state->raw, (SHORT)raw);
  InterlockedExchange(&state->intervalMs, VTHERMO_DEFAULT_INTERVAL_MS);
  InterlockedExchange(&state->answering, 1);
  InterlockedExchange(&state->reports, 0);
  KeSetEvent(&state->wake, IO_NO_INCREMENT, FALSE);
}

static NTSTATUS NTAPI Pnp(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG unit = GetMini(device)->unit;
  UnitState* state = &units[unit];
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      // Every plug starts afresh, with the value left by the plug request.
      Restart(state, ReadStartingRaw(unit));
      InterlockedExchange(&state->started, 1);
      break;
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
      InterlockedExchange(&state->started, 0);
      ReleaseRead(unit);
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    default:
      break;
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(GetNext(device), irp);
}

static NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT fdo) {
  (void)driver;
  VT_HID_DEVICE_EXTENSION* hid = (VT_HID_DEVICE_EXTENSION*)fdo->DeviceExtension;
  LONG unit = FindUnit(hid->PhysicalDeviceObject);
  if (unit < 0) return STATUS_NOT_SUPPORTED;
  GetMini(fdo)->unit = (ULONG)unit;
  fdo->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

static NTSTATUS Control(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_VTHERMO_CONTROL)
    return CompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(VThermoRequest) ||
      stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(VThermoDriverState))
    return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 0);
  VThermoRequest request = *(VThermoRequest*)irp->AssociatedIrp.SystemBuffer;
  if (request.unit >= VTHERMO_UNIT_COUNT) return CompleteIrp(irp, STATUS_INVALID_PARAMETER, 0);
  UnitState* state = &units[request.unit];
  switch (request.operation) {
    case VTHERMO_OP_GET:
      break;
    case VTHERMO_OP_SET_RAW:
      InterlockedExchange(&state->raw, (SHORT)request.value);
      break;
    case VTHERMO_OP_SET_INTERVAL:
      if (request.value < VTHERMO_MIN_INTERVAL_MS) return CompleteIrp(irp, STATUS_INVALID_PARAMETER, 0);
      InterlockedExchange(&state->intervalMs, request.value);
      KeSetEvent(&state->wake, IO_NO_INCREMENT, FALSE);
      break;
    case VTHERMO_OP_SET_ANSWERING:
      InterlockedExchange(&state->answering, request.value ? 1 : 0);
      KeSetEvent(&state->wake, IO_NO_INCREMENT, FALSE);
      break;
    case VTHERMO_OP_RESTART:
      Restart(state, request.value);
      break;
    default:
      return CompleteIrp(irp, STATUS_INVALID_PARAMETER, 0);
  }
  VThermoDriverState* out = (VThermoDriverState*)irp->AssociatedIrp.SystemBuffer;
  out->started = (unsigned int)state->started;
  out->reports = (unsigned int)state->reports;
  out->raw = state->raw;
  out->intervalMs = (unsigned int)state->intervalMs;
  out->answering = (unsigned int)state->answering;
  return CompleteIrp(irp, STATUS_SUCCESS, sizeof(VThermoDriverState));
}

// hidclass owns the dispatch table; requests for the control device are
// ours, everything else goes on to hidclass.
static NTSTATUS NTAPI CreateHook(PDEVICE_OBJECT device, PIRP irp) {
  if (device == controlDevice) return CompleteIrp(irp, STATUS_SUCCESS, 0);
  return hidCreate(device, irp);
}

static NTSTATUS NTAPI CloseHook(PDEVICE_OBJECT device, PIRP irp) {
  if (device == controlDevice) return CompleteIrp(irp, STATUS_SUCCESS, 0);
  return hidClose(device, irp);
}

static NTSTATUS NTAPI DeviceControlHook(PDEVICE_OBJECT device, PIRP irp) {
  if (device == controlDevice) return Control(irp);
  return hidDeviceControl(device, irp);
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  (void)driver;
  InterlockedExchange(&unloading, 1);
  for (ULONG i = 0; i < VTHERMO_UNIT_COUNT; ++i) KeSetEvent(&units[i].wake, IO_NO_INCREMENT, FALSE);
  for (ULONG i = 0; i < VTHERMO_UNIT_COUNT; ++i)
    KeWaitForSingleObject(&units[i].exited, Executive, KernelMode, FALSE, NULL);
  IoDeleteSymbolicLink(&controlLink);
  if (controlDevice) IoDeleteDevice(controlDevice);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  for (ULONG i = 0; i < VTHERMO_UNIT_COUNT; ++i) {
    units[i].raw = 290;
    units[i].intervalMs = VTHERMO_DEFAULT_INTERVAL_MS;
    units[i].answering = 1;
    KeInitializeEvent(&units[i].wake, SynchronizationEvent, FALSE);
    KeInitializeEvent(&units[i].exited, NotificationEvent, FALSE);
  }

  driver->MajorFunction[IRP_MJ_PNP] = Pnp;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = InternalControl;
  driver->DriverExtension->AddDevice = AddDevice;
  driver->DriverUnload = Unload;

  VT_HID_MINIDRIVER_REGISTRATION registration;
  RtlZeroMemory(&registration, sizeof(registration));
  registration.Revision = HID_REVISION;
  registration.DriverObject = driver;
  registration.RegistryPath = registryPath;
  registration.DeviceExtensionSize = sizeof(MiniExtension);
  registration.DevicesArePolled = FALSE;
  NTSTATUS status = HidRegisterMinidriver(&registration);
  if (!NT_SUCCESS(status)) return status;

  UNICODE_STRING name;
  RtlInitUnicodeString(&name, VTHERMO_CONTROL_NAME);
  RtlInitUnicodeString(&controlLink, VTHERMO_CONTROL_LINK);
  status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &controlDevice);
  if (!NT_SUCCESS(status)) return status;
  status = IoCreateSymbolicLink(&controlLink, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(controlDevice);
    controlDevice = NULL;
    return status;
  }
  controlDevice->Flags &= ~DO_DEVICE_INITIALIZING;

  hidCreate = driver->MajorFunction[IRP_MJ_CREATE];
  hidClose = driver->MajorFunction[IRP_MJ_CLOSE];
  hidDeviceControl = driver->MajorFunction[IRP_MJ_DEVICE_CONTROL];
  driver->MajorFunction[IRP_MJ_CREATE] = CreateHook;
  driver->MajorFunction[IRP_MJ_CLOSE] = CloseHook;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceControlHook;

  for (ULONG i = 0; i < VTHERMO_UNIT_COUNT; ++i) {
    HANDLE thread;
    if (NT_SUCCESS(PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, UnitWorker,
                                        (PVOID)(ULONG_PTR)i))) {
      ZwClose(thread);
    } else {
      KeSetEvent(&units[i].exited, IO_NO_INCREMENT, FALSE);
    }
  }
  return STATUS_SUCCESS;
}
