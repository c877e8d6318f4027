#pragma once
#include <cstddef>
#include <string>

namespace qx {

// Every text the user can see, in the two languages the utility speaks. Texts are
// UTF-8 here; the Win32 edge converts them to the ANSI code page when it shows them.
enum class Language { English, Japanese };

// The drive this utility is for, as the screens name it and as its INQUIRY product
// field reads.
constexpr char kModelName[] = "DVD-ROM QX-M4471";

// Code page 932 (Shift-JIS) selects Japanese; every other code page English.
Language LanguageFor(int codePage);

// Placeholders: "%s" is replaced by FormatText; nothing here is ever handed to printf,
// so a stray '%' in a text can do no harm.
enum class TextId {
  // Captions and names shared by every window.
  Caption,           // "Firmware Update Utility" (message boxes and message dialogs)
  ModelName,         // kModelName

  // Start-up messages (plain message boxes).
  AcPowerRequired,
  FirmwareCurrent,
  TargetNotFound,    // %s = model
  RebootConfirm,     // the Reboot notice's text when a resume entry was written
  RebootConfirmNoResume,  // ... when none could be written (English is the same)
  PreparationFailed, // the preparation could change none of the settings: no restart
  SettingsRestored,  // ... nor record them, and what an earlier start changed went back
  UnsupportedSystem, // Windows Vista and later: the systems the utility runs on

  // Initial texts of the message dialogs (Reboot starts empty; the caller sets it).
  WarningNotice,
  StartNotice,
  EndNotice,
  CancelNotice,
  RebootNotice,
  OkButton,
  CancelButton,      // the Reboot notice's CANCEL

  // Terms dialog.
  TermsText,         // whole text, %s = model (twice in English, once in Japanese)
  TermsTitle,        // "Firmware Update Utility For  " (the model is appended)
  AgreeButton,
  NotAgreeButton,

  // Main dialog.
  MainCaption,       // %s = model
  DriveLabel,        // "CD-Drive"
  UpdateStartButton,
  MainCancelButton,
  AboutMenu,         // menu item 32772
  AboutSystemMenu,   // system-menu item 0x10
  ScanComplete,
  NowUpdating,
  UpdateFailedStatus,
  UpdateFailedBox,
  UpdateComplete,
  ErrorPrefix,       // put before the device's message in the start-failure box
  WaitingForWorker,  // CANCEL after a time-out while the worker still writes
  RevisionNotConfirmed,  // %1 = the revision the drive reports after the update, %2 = expected
  NoAnswerAfterUpdate,   // %2 = the revision expected (the drive did not answer)
  LogLocation,           // %1 = where the update log is
  TimedOutAdvice,        // under "Update Failed." after the time-out: the worker may still write
  CheckingDrive,         // every page sent; the drive is asked for its new revision
  ProgramOnTargetDrive,  // Update Start refused: the program runs from the drive to write

  // Version check.
  NotSupport,
  NotSupportFirmware,
  UnnecessaryUpdate,
  StatusBlank,
  NotSupportVersion,

  // About box.
  AboutCaption,
  AboutProduct,
  AboutVersion,
  AboutFirmLabel,
  AboutNotice,

  // Device layer. From NoDevice on, the texts are the same in both languages: they
  // reach the user inside a device message, after the command's name.
  OsInfoError,
  AspiInitFail,
  HandleError,       // "%d" = the system's error number, followed by a line end
  NoDevice,          // no drive at the address (both transports)
  InUse,             // pass-through: another command holds the drive
  BufferTooBig,      // pass-through: more data than the slot or the request carries
  RequestError,      // pass-through: "%d" = the system's error, the system's text follows
  FormatMessageFailed,  // "%d" = why the system's text could not be had
  StatusLabel,       // ASPI: between the command's name and what became of it
  AspiTimeout,
  AspiAborted,
  AspiAbortFailed,
  AspiInvalidHa,
  AspiInvalidSrb,
  AspiNotInitialised,
  AspiBusy,
  AspiTargetBusy,
  AspiNoMemory,
  AspiDataCompare,
  AspiOtherStatus,   // any status without a text of its own
  ScsiError,         // the request failed with neither an adapter nor a target status
  AspiErrorBox,      // the box of an ASPI status without a text: %1 = the status table's

  Count
};

constexpr std::size_t kTextIdCount = static_cast<std::size_t>(TextId::Count);

// Never fails: every id has a text in both languages (some are deliberately empty or
// a single blank, as the screens need).
const std::string& Text(TextId id, Language language);

// Replaces every "%s" in `pattern` with `argument`; any other '%' is left as it is.
std::string FormatText(const std::string& pattern, const std::string& argument);

// Replaces "%1" with `first` and "%2" with `second`, wherever the language puts them.
std::string FormatNumbered(const std::string& pattern, const std::string& first,
                           const std::string& second = std::string());

}  // namespace qx
