#pragma once
// The line between the driver's kernel side (C, the DDK headers) and the simulated
// drive (C++, the standard library): the two sets of headers do not mix, so the
// driver talks to the drive through these plain functions only.
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct SimHostDrive {
  char letter;                 // the drive letter the state file gives it
  uint32_t maxTransfer;        // the capability answer
  int capabilitiesFail;        // nonzero: the capability request is refused
  uint32_t openError;          // nonzero: opening the drive fails (a Win32 error)
};

struct SimHostResult {
  int completed;               // 0: the command never completes
  uint8_t status;              // SCSI status
  uint8_t sense[24];
  uint32_t senseLength;
  uint32_t transferred;
};

// Loads the drive from the text of a state file (its first drive-letter section).
// 0 with a reason in `error` when the text does not parse or holds no letter.
int SimHostLoad(const char* text, size_t length, struct SimHostDrive* drive, char* error,
                size_t errorSize);
// Executes one CDB; `dataIn` as the request block states it (0 out, 1 in, 2 none).
void SimHostExecute(const uint8_t* cdb, uint8_t cdbLength, uint8_t* data, uint32_t length,
                    uint8_t dataIn, struct SimHostResult* result);
// A bus reset, as the port performs after a command timed out.
void SimHostReset(void);
// The drive's state as state-file text (written to `buffer`, cut at `size` - 1);
// the length of the whole text.
size_t SimHostState(char* buffer, size_t size);
// The last command as the drive logged it ("12 00 00 00 2C 00 len=44 in -> 00").
size_t SimHostLastCommand(char* buffer, size_t size);

// Provided by the kernel side: the drive's delays pass in real time, divided by the
// driver's time scale.
void SimHostSleep(uint32_t milliseconds);

#ifdef __cplusplus
}
#endif
