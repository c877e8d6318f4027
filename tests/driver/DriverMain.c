// qxsimcd.sys: a CD-ROM drive letter whose SCSI pass-through requests reach a
// simulated drive, so that the utility's own pass-through code meets a port driver
// under Wine. A test fixture, never shipped.
//
// Configuration (its service key): StateFile, the NT path of the drive's state file
// (the state-file text of sim/, its first drive-letter section is the drive; read at
// start, rewritten after every request that changed the drive); TimeScale, a divisor
// for the drive's delays and for the port's time-out of a command that never
// completes. A line per request goes to the state file's name plus ".log".
#include <ntifs.h>
#include <ntddk.h>
#include <ntddscsi.h>

#include "SimDriveHost.h"

#define QX_TAG 0x44535851u /* "QXSD" */
#define QX_STATE_MAX 8192
#define QX_DATA_MAX (1u << 20)
#define SPT32_SIZE 44u
#define SPT64_SIZE 56u
// Process access rights, which the kernel's headers leave to the user-mode ones.
#define QX_PROCESS_VM_OPERATION 0x0008
#define QX_PROCESS_VM_READ 0x0010
#define QX_PROCESS_VM_WRITE 0x0020
#define QX_PROCESS_QUERY_INFORMATION 0x0400

int _snprintf(char* buffer, size_t count, const char* format, ...);

typedef NTSTATUS(NTAPI* VirtualMemoryCall)(HANDLE process, PVOID address, PVOID buffer,
                                           SIZE_T size, PSIZE_T done);

static struct {
  UNICODE_STRING statePath;
  WCHAR statePathBuffer[260];
  WCHAR logPathBuffer[264];
  UNICODE_STRING logPath;
  ULONG timeScale;
  struct SimHostDrive drive;
  char lastState[QX_STATE_MAX];
  VirtualMemoryCall readMemory;
  VirtualMemoryCall writeMemory;
} g;

/* ---- Time ---- */

void SimHostSleep(uint32_t milliseconds) {
  LARGE_INTEGER interval;
  ULONG scaled = milliseconds / (g.timeScale ? g.timeScale : 1);
  interval.QuadPart = -(LONGLONG)scaled * 10000;
  if (scaled) KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

/* ---- Files ---- */

static NTSTATUS OpenFile(PUNICODE_STRING path, ACCESS_MASK access, ULONG disposition,
                         HANDLE* file) {
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK io;
  InitializeObjectAttributes(&attributes, path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                             NULL);
  return ZwCreateFile(file, access | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL,
                      FILE_SHARE_READ, disposition,
                      FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0);
}

static NTSTATUS ReadWholeFile(PUNICODE_STRING path, char* buffer, ULONG size, ULONG* length) {
  HANDLE file;
  IO_STATUS_BLOCK io;
  NTSTATUS status = OpenFile(path, GENERIC_READ, FILE_OPEN, &file);
  if (!NT_SUCCESS(status)) return status;
  status = ZwReadFile(file, NULL, NULL, NULL, &io, buffer, size - 1, NULL, NULL);
  ZwClose(file);
  *length = NT_SUCCESS(status) ? (ULONG)io.Information : 0;
  buffer[*length] = '\0';
  return status == STATUS_END_OF_FILE ? STATUS_SUCCESS : status;
}

static void WriteFile(PUNICODE_STRING path, const char* text, ULONG length, BOOLEAN append) {
  HANDLE file;
  IO_STATUS_BLOCK io;
  if (!NT_SUCCESS(OpenFile(path, append ? FILE_APPEND_DATA : GENERIC_WRITE,
                           append ? FILE_OPEN_IF : FILE_OVERWRITE_IF, &file)))
    return;
  ZwWriteFile(file, NULL, NULL, NULL, &io, (PVOID)text, length, NULL, NULL);
  ZwClose(file);
}

static void Log(const char* line) {
  WriteFile(&g.logPath, line, (ULONG)strlen(line), TRUE);
}

// Rewrites the state file when the drive differs from what it holds, so the drive
// keeps its revision across Wine's restart.
static void SaveIfChanged(void) {
  static char now[QX_STATE_MAX];
  SimHostState(now, sizeof now);
  if (strcmp(now, g.lastState) == 0) return;
  WriteFile(&g.statePath, now, (ULONG)strlen(now), FALSE);
  RtlCopyMemory(g.lastState, now, sizeof now);
}

/* ---- The service key ---- */

static void ReadSettings(PUNICODE_STRING registryPath) {
  OBJECT_ATTRIBUTES attributes;
  HANDLE key;
  UNICODE_STRING name;
  UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof g.statePathBuffer];
  PKEY_VALUE_PARTIAL_INFORMATION value = (PKEY_VALUE_PARTIAL_INFORMATION)buffer;
  ULONG length;
  g.timeScale = 1;
  InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                             NULL, NULL);
  if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) return;
  RtlInitUnicodeString(&name, L"StateFile");
  if (NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, value, sizeof buffer,
                                 &length)) &&
      value->Type == REG_SZ && value->DataLength < sizeof g.statePathBuffer - 8) {
    RtlCopyMemory(g.statePathBuffer, value->Data, value->DataLength);
    g.statePathBuffer[value->DataLength / sizeof(WCHAR)] = 0;
  }
  RtlInitUnicodeString(&name, L"TimeScale");
  if (NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, value, sizeof buffer,
                                 &length)) &&
      value->Type == REG_DWORD && *(ULONG*)value->Data != 0)
    g.timeScale = *(ULONG*)value->Data;
  ZwClose(key);
  RtlInitUnicodeString(&g.statePath, g.statePathBuffer);
  RtlCopyMemory(g.logPathBuffer, g.statePathBuffer, sizeof g.statePathBuffer);
  {
    size_t n = wcslen(g.logPathBuffer);
    RtlCopyMemory(g.logPathBuffer + n, L".log", 5 * sizeof(WCHAR));
  }
  RtlInitUnicodeString(&g.logPath, g.logPathBuffer);
}

/* ---- The caller's memory ---- */

// Under Wine a driver runs in a user process (winedevice.exe), so the caller's
// memory is reached as one process reaches another's: through ntdll's virtual-memory
// calls. They are looked up in this process's loader list, because importing ntdll
// would make Wine load the image as an ordinary library.
static PVOID FindExport(PVOID base, const char* wanted) {
  // The PE32+ headers by their offsets: the kernel's headers do not declare them.
  PUCHAR image = (PUCHAR)base;
  PUCHAR nt = image + *(LONG*)(image + 0x3C);
  ULONG exportRva = *(ULONG*)(nt + 0x18 + 0x70);
  PUCHAR exports = image + exportRva;
  ULONG count = *(ULONG*)(exports + 0x18);
  PULONG functions = (PULONG)(image + *(ULONG*)(exports + 0x1C));
  PULONG names = (PULONG)(image + *(ULONG*)(exports + 0x20));
  PUSHORT ordinals = (PUSHORT)(image + *(ULONG*)(exports + 0x24));
  ULONG i;
  if (exportRva == 0) return NULL;
  for (i = 0; i < count; ++i)
    if (strcmp((const char*)image + names[i], wanted) == 0) return image + functions[ordinals[i]];
  return NULL;
}

// The x64 layouts of the loader's records, as far as they are read here.
typedef struct {
  LIST_ENTRY InLoadOrderLinks;
  LIST_ENTRY InMemoryOrderLinks;
  LIST_ENTRY InInitializationOrderLinks;
  PVOID DllBase;
  PVOID EntryPoint;
  ULONG SizeOfImage;
  UNICODE_STRING FullDllName;
  UNICODE_STRING BaseDllName;
} LoaderEntry;

static BOOLEAN FindMemoryCalls(void) {
  PROCESS_BASIC_INFORMATION basic;
  PUCHAR peb, ldr;
  PLIST_ENTRY head, link;
  UNICODE_STRING ntdll;
  RtlInitUnicodeString(&ntdll, L"ntdll.dll");
  if (!NT_SUCCESS(ZwQueryInformationProcess(NtCurrentProcess(), ProcessBasicInformation, &basic,
                                            sizeof basic, NULL)))
    return FALSE;
  peb = (PUCHAR)basic.PebBaseAddress;
  ldr = *(PUCHAR*)(peb + 0x18);
  head = (PLIST_ENTRY)(ldr + 0x10);
  for (link = head->Flink; link != head; link = link->Flink) {
    LoaderEntry* entry = CONTAINING_RECORD(link, LoaderEntry, InLoadOrderLinks);
    if (!RtlEqualUnicodeString(&entry->BaseDllName, &ntdll, TRUE)) continue;
    g.readMemory = (VirtualMemoryCall)FindExport(entry->DllBase, "NtReadVirtualMemory");
    g.writeMemory = (VirtualMemoryCall)FindExport(entry->DllBase, "NtWriteVirtualMemory");
    break;
  }
  return g.readMemory != NULL && g.writeMemory != NULL;
}

static NTSTATUS OpenCaller(PIRP irp, HANDLE* process, BOOLEAN* is32bit) {
  OBJECT_ATTRIBUTES attributes;
  CLIENT_ID client;
  ULONG_PTR wow64 = 0;
  NTSTATUS status;
  client.UniqueProcess = PsGetThreadProcessId(irp->Tail.Overlay.Thread);
  client.UniqueThread = NULL;
  InitializeObjectAttributes(&attributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
  status = ZwOpenProcess(process,
                         QX_PROCESS_VM_READ | QX_PROCESS_VM_WRITE | QX_PROCESS_VM_OPERATION |
                             QX_PROCESS_QUERY_INFORMATION,
                         &attributes, &client);
  if (!NT_SUCCESS(status)) return status;
  // A 64-bit port driver reads the 32-bit block from a 32-bit program.
  *is32bit = NT_SUCCESS(ZwQueryInformationProcess(*process, ProcessWow64Information, &wow64,
                                                  sizeof wow64, NULL)) &&
             wow64 != 0;
  return STATUS_SUCCESS;
}

/* ---- Requests ---- */

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_CREATE && g.drive.openError) {
    // The Win32 errors a drive may give on opening, as the system's status.
    NTSTATUS status = g.drive.openError == 5 ? STATUS_ACCESS_DENIED
                      : g.drive.openError == 2 ? STATUS_OBJECT_NAME_NOT_FOUND
                                               : STATUS_DEVICE_NOT_READY;
    return Complete(irp, status, 0);
  }
  return Complete(irp, STATUS_SUCCESS, 0);
}

static ULONG Read32(const UCHAR* p) { return *(const ULONG UNALIGNED*)p; }

// IOCTL_SCSI_PASS_THROUGH(_DIRECT): the block is in the system buffer (both
// methods are buffered); _DIRECT's data stays in the caller's process.
static NTSTATUS PassThrough(PIRP irp, ULONG code, ULONG inLength, ULONG outLength) {
  UCHAR* block = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
  const BOOLEAN direct = code == IOCTL_SCSI_PASS_THROUGH_DIRECT;
  HANDLE process = NULL;
  BOOLEAN is32 = FALSE;
  ULONG size, dataLength, senseOffset, senseLength, timeout;
  ULONG_PTR dataAddress;
  UCHAR cdbLength, dataIn;
  const UCHAR* cdb;
  UCHAR* data = NULL;
  struct SimHostResult result;
  ULONG senseBytes;
  NTSTATUS status = OpenCaller(irp, &process, &is32);
  char line[192], command[128];
  if (!NT_SUCCESS(status)) return Complete(irp, status, 0);

  size = is32 ? SPT32_SIZE : SPT64_SIZE;
  if (block == NULL || inLength < size || outLength < size) {
    status = STATUS_INVALID_PARAMETER;
    goto done;
  }
  // The port takes only the structure of the caller's own width.
  if (*(USHORT*)block != size) {
    status = STATUS_REVISION_MISMATCH;
    goto done;
  }
  cdbLength = block[6];
  senseLength = block[7];
  dataIn = block[8];
  dataLength = Read32(block + 12);
  timeout = Read32(block + 16);
  if (is32) {
    dataAddress = Read32(block + 20);
    senseOffset = Read32(block + 24);
    cdb = block + 28;
  } else {
    dataAddress = *(ULONG_PTR UNALIGNED*)(block + 24);
    senseOffset = Read32(block + 32);
    cdb = block + 36;
  }
  if (cdbLength == 0 || cdbLength > 16 || dataIn > SCSI_IOCTL_DATA_UNSPECIFIED ||
      (senseLength != 0 &&
       (senseOffset < size || (ULONGLONG)senseOffset + senseLength > outLength)) ||
      dataLength > g.drive.maxTransfer || dataLength > QX_DATA_MAX ||
      (dataLength != 0 && direct && (dataAddress == 0 || (dataAddress & 1) != 0)) ||
      (!direct && dataLength != 0 &&
       (dataAddress < size || dataAddress > inLength || dataAddress > outLength ||
        dataLength > inLength - dataAddress || dataLength > outLength - dataAddress))) {
    status = STATUS_INVALID_PARAMETER;
    goto done;
  }
  if (dataLength != 0) {
    SIZE_T moved = 0;
    data = (UCHAR*)ExAllocatePoolWithTag(NonPagedPool, dataLength, QX_TAG);
    if (data == NULL) {
      status = STATUS_INSUFFICIENT_RESOURCES;
      goto done;
    }
    if (!direct) {
      RtlCopyMemory(data, block + dataAddress, dataLength);
    } else {
      status = g.readMemory(process, (PVOID)dataAddress, data, dataLength, &moved);
      if (!NT_SUCCESS(status) || moved != dataLength) {
        status = STATUS_INVALID_USER_BUFFER;
        goto done;
      }
    }
  }

  SimHostExecute(cdb, cdbLength, data, dataLength, dataIn, &result);
  SimHostLastCommand(command, sizeof command);
  if (!result.completed) {
    // The port gives up after the request's time-out and resets the bus.
    SimHostSleep(timeout * 1000);
    SimHostReset();
    _snprintf(line, sizeof line, "%s (%u-bit caller, timed out after %lu s)\n", command,
              is32 ? 32 : 64, timeout);
    line[sizeof line - 1] = 0;
    Log(line);
    status = STATUS_IO_TIMEOUT;
    goto done;
  }
  if (result.transferred != 0 && dataIn != SCSI_IOCTL_DATA_OUT) {
    if (!direct) {
      RtlCopyMemory(block + dataAddress, data, result.transferred);
    } else {
      SIZE_T moved = 0;
      status = g.writeMemory(process, (PVOID)dataAddress, data, result.transferred, &moved);
      if (!NT_SUCCESS(status) || moved != result.transferred) {
        status = STATUS_INVALID_USER_BUFFER;
        goto done;
      }
    }
  }
  block[2] = result.status;
  *(ULONG UNALIGNED*)(block + 12) = result.transferred;
  senseBytes = result.senseLength < senseLength ? result.senseLength : senseLength;
  if (senseBytes != 0) RtlCopyMemory(block + senseOffset, result.sense, senseBytes);
  block[7] = (UCHAR)senseBytes;
  _snprintf(line, sizeof line, "%s (%u-bit caller)\n", command, is32 ? 32 : 64);
  line[sizeof line - 1] = 0;
  Log(line);
  SaveIfChanged();
  if (data != NULL) ExFreePoolWithTag(data, QX_TAG);
  ZwClose(process);
  // As a port driver: the structure and the sense behind it (and, buffered, the
  // data) go back; the rest of the caller's block, its staging area included, is
  // left as the data move wrote it.
  return Complete(irp, STATUS_SUCCESS,
                  !direct && dataLength != 0 && dataIn != SCSI_IOCTL_DATA_OUT
                      ? dataAddress + result.transferred
                  : senseBytes != 0 ? senseOffset + senseBytes
                                    : size);

done:
  if (data != NULL) ExFreePoolWithTag(data, QX_TAG);
  if (process != NULL) ZwClose(process);
  _snprintf(line, sizeof line, "refused %08lX (%u-bit caller, %lu-byte input)\n", status,
            is32 ? 32 : 64, inLength);
  line[sizeof line - 1] = 0;
  if (status != STATUS_IO_TIMEOUT) Log(line);
  return Complete(irp, status, 0);
}

static NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  (void)device;
  switch (code) {
    case IOCTL_SCSI_PASS_THROUGH:
    case IOCTL_SCSI_PASS_THROUGH_DIRECT:
      return PassThrough(irp, code, inLength, outLength);
    case IOCTL_SCSI_GET_CAPABILITIES: {
      PIO_SCSI_CAPABILITIES caps = (PIO_SCSI_CAPABILITIES)irp->AssociatedIrp.SystemBuffer;
      if (g.drive.capabilitiesFail) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
      if (outLength < sizeof *caps) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      RtlZeroMemory(caps, sizeof *caps);
      caps->Length = sizeof *caps;
      caps->MaximumTransferLength = g.drive.maxTransfer;
      caps->MaximumPhysicalPages = g.drive.maxTransfer / PAGE_SIZE + 1;
      caps->AlignmentMask = 1;
      caps->AdapterUsesPio = TRUE;
      Log("capabilities\n");
      return Complete(irp, STATUS_SUCCESS, sizeof *caps);
    }
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  static char text[QX_STATE_MAX];
  char error[160], line[256];
  ULONG length = 0;
  UNICODE_STRING deviceName, linkName;
  WCHAR linkBuffer[] = L"\\DosDevices\\X:";
  PDEVICE_OBJECT device;
  NTSTATUS status;

  ReadSettings(registryPath);
  if (g.statePath.Length == 0) return STATUS_OBJECT_NAME_NOT_FOUND;
  if (!FindMemoryCalls()) {
    Log("ntdll's virtual-memory calls not found\n");
    return STATUS_PROCEDURE_NOT_FOUND;
  }
  status = ReadWholeFile(&g.statePath, text, sizeof text, &length);
  if (!NT_SUCCESS(status)) {
    _snprintf(line, sizeof line, "state file not read: %08lX\n", status);
    line[sizeof line - 1] = 0;
    Log(line);
    return status;
  }
  if (!SimHostLoad(text, length, &g.drive, error, sizeof error)) {
    _snprintf(line, sizeof line, "state file refused: %s\n", error);
    line[sizeof line - 1] = 0;
    Log(line);
    return STATUS_INVALID_PARAMETER;
  }
  SimHostState(g.lastState, sizeof g.lastState);

  RtlInitUnicodeString(&deviceName, L"\\Device\\QxSimCdRom0");
  status = IoCreateDevice(driver, 0, &deviceName, FILE_DEVICE_CD_ROM, FILE_REMOVABLE_MEDIA, FALSE,
                          &device);
  if (!NT_SUCCESS(status)) return status;
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCreateClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;

  // The mount manager made the letter for Wine's own CD-ROM; it now leads here.
  linkBuffer[12] = (WCHAR)g.drive.letter;
  RtlInitUnicodeString(&linkName, linkBuffer);
  IoDeleteSymbolicLink(&linkName);
  status = IoCreateSymbolicLink(&linkName, &deviceName);
  _snprintf(line, sizeof line, "started: drive %c:, link %08lX, time scale %lu\n",
            g.drive.letter, status, g.timeScale);
  line[sizeof line - 1] = 0;
  Log(line);
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return status;
}
