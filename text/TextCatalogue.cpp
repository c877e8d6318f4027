#include "text/TextCatalogue.h"

#include <array>

#include "Version.h"

namespace qx {

namespace {

struct Entry {
  TextId id;
  const char* english;
  const char* japanese;
};

// The terms, one line per source line so that a changed line shows in review.
constexpr char kTermsEnglish[] =
    " Please read this instruction carefully before using this program. You may use this "
    "program only on condition that you accept all of the terms set forth below. If you accept "
    "them, click \"Agree\" button to proceed.\r\n"
    "\r\n"
    "1) You may not reproduce any portion of this program and/or distribute it to any third "
    "party.\r\n"
    "2) You may not reverse engineer and/or modify any portion of this program.\r\n"
    "3) All copyrights and other rights in this program belong to VELMORA Corporation.\r\n"
    "4) In no event shall VELMORA Corporation be liable for any damages arising out of this "
    "program or its use, including any damage to your computer or drive caused by using this "
    "program other than as described in the following instructions.\r\n"
    "\r\n"
    "[Instructions]\r\n"
    "1) This program is for use only with the \"%s\".  It cannot be used with any other "
    "model.\r\n"
    "2) This program can be run under Windows(R) 98 Second Edition, Windows(R) Millennium "
    "Edition, Windows(R) 2000, Windows(R) XP.\r\n"
    "3) Using under Windows(R) 2000 or Windows(R) XP, please log on used \"Administrator Group "
    "user\", then you run this program.\r\n"
    "4) Please close all other applications before starting firmware update.\r\n"
    "5) Verify that no media is installed in the \"%s\".\r\n"
    "6) Do not turn off the power supply or reset the system while updating the firmware.\r\n"
    "7) This program may be unable to update some previous versions of firmware.\r\n"
    "\r\n"
    "  Windows is registered trademark of Microsoft Corporation in the United States and/or "
    "other countries.\r\n";

constexpr char kTermsJapanese[] =
    "本プログラムをご使用になる前に、必ず注意事項をお読み下さい。本プログラムは以下の条件に"
    "合意頂ける場合にのみご利用頂くことができます。以下の条件に合意頂ける場合には\"合意する\""
    "をクリックしてご利用下さい。\r\n"
    "1) 本プログラムの全部又は一部を複製又は頒布することを禁止致します。\r\n"
    "2) 本プログラムの全部又は一部を解析又は改造することを禁止致します。\r\n"
    "3) 本プログラムの著作権その他一切の権利は、VELMORA 株式会社（以下「当社」といいます。）"
    "に帰属します。\r\n"
    "4) 当社は、本プログラムの使用又は使用不能により生じたいかなる損害についても、一切の責任を"
    "負いません。以下の注意事項に記載された以外の方法でご使用になったことによるコンピュータ"
    "及びドライブの故障についても同様です。\r\n"
    "\r\n"
    "[注意事項]\r\n"
    "1) 本プログラムは\"%s\" 専用です。他のモデルではご使用になれません。\r\n"
    "2) 本プログラムはWindows (R) 98 Second Edition 、Windows (R) Millennium Edition 、"
    "Windows (R) 2000 、Windows (R) XP でお使い下さい。\r\n"
    "3) Windows (R) 2000 またはWindows (R) XP でお使いの場合は、\"Administrators "
    "グループのユーザー\" でログオンし、本プログラムを実行して下さい。\r\n"
    "4) ファームウェアアップデート前に他のアプリケーションは全て終了させておいて下さい。\r\n"
    "5) ファームウェアアップデート前にドライブからディスクを取り出しておいて下さい。\r\n"
    "6) ファームウェアアップデート中はコンピュータ及びドライブの電源を切らないで下さい。\r\n"
    "7) 現在のファームウェアのバージョンによっては、本プログラムでアップデートできない場合が"
    "あります。\r\n"
    "\r\n"
    "  Windows は、米国Microsoft Corporation の米国及びその他の国における登録商標です。\r\n"
    "\r\n";

constexpr char kRebootEnglish[] =
    "Target drive is found, please press OK to restart system that will change system "
    "configuration required for firmware update.\r\n"
    "Please execute utility after the system restart is completed.";

constexpr char kRebootJapaneseHead[] =
    "ファームウェアを書き換えられるCD ドライブが見つかりました。\r\n"
    "ファームウェアを書き換えられるようシステム設定を変更して再起動します。\r\n";

// The About template carries this same text in a static control, which is what the box
// shows; keep the two alike.
constexpr char kAboutNotice[] = "Copyright (C) 2005 VELMORA. All rights reserved.";

// Listed in the order of TextId, which the compiler checks below.
constexpr Entry kEntries[] = {
    {TextId::Caption, "Firmware Update Utility", "Firmware Update Utility"},
    {TextId::ModelName, kModelName, kModelName},

    {TextId::AcPowerRequired, "Try again after AC adapter connect the system.",
     "システムにAC 電源を接続して再度実行してください。"},
    {TextId::FirmwareCurrent, "The firmware is current. The Update is not needed.",
     "CD ドライブのファームウェアは書き換え不要です。"},
    {TextId::TargetNotFound,
     "Target CD-Drive not found, The Update applies to VELMORA %s CD-Drives Only.\r\n"
     "If you insert a drive, please restart the computer and retry the update operation.",
     "対象のCD ドライブが見つかりません。本プログラムはVELMORA %s 専用です。\r\n"
     "ドライブが接続されている場合は、システムを再起動し、もう一度本プログラムを実行して"
     "ください。"},
    {TextId::RebootConfirm, kRebootEnglish, nullptr},  // Japanese built below
    {TextId::RebootConfirmNoResume, kRebootEnglish, nullptr},
    {TextId::PreparationFailed,
     "The system configuration required for firmware update could not be changed.\r\n"
     "The system will not restart; nothing has been changed.\r\n"
     "On Windows 2000 or XP, log on as a member of the Administrators group, then run the "
     "utility again.",
     "ファームウェアのアップデートに必要なシステム設定を変更できませんでした。\r\n"
     "システムは変更されていません。再起動は行いません。\r\n"
     "Windows 2000 または XP では、Administrators グループのユーザーでログオンしてから、"
     "もう一度実行してください。"},
    {TextId::SettingsRestored,
     "The system configuration required for firmware update could not be changed.\r\n"
     "The settings changed before the restart have been restored; they take effect at the "
     "next restart.",
     "ファームウェアのアップデートに必要なシステム設定を変更できませんでした。\r\n"
     "再起動の前に変更した設定は元に戻しました。次の再起動から有効になります。"},
    {TextId::UnsupportedSystem,
     "This utility runs only on Windows 98 Second Edition, Windows Millennium Edition, "
     "Windows 2000 and Windows XP.\r\n"
     "It has changed nothing on this computer and ends now.",
     "このユーティリティは Windows 98 Second Edition、Windows Millennium Edition、"
     "Windows 2000、Windows XP でのみ動作します。\r\n"
     "このコンピュータでは何も変更せずに終了します。"},

    {TextId::WarningNotice, "Please Close ALL applications before applying firmware update.",
     "ファームウェアのアップデートを行う前にアプリケーションを全て終了して下さい。"},
    {TextId::StartNotice,
     "[ CAUTION ]\r\n"
     "The firmware update may take about 3 minutes to complete.\r\n"
     "Do NOT run applications or restart your computer until the update is complete.\r\n"
     "This could result in a loss of drive functionality.",
     "[ 警告 ]\r\n"
     "ファームウェアのアップデートには約3 分間かかります。\r\n"
     "アップデート中は他のアプリケーションの実行や、パソコンを終了・再起動させることは"
     "絶対に行わないでください。\r\n"
     "CD ドライブが故障するおそれがあります。"},
    {TextId::EndNotice, "Firmware Update Complete. The system must now restart.",
     "ファームウェアのアップデートが終了しました。\r\n設定を元に戻し、再起動します。"},
    {TextId::CancelNotice, "The system must now restart.",
     "設定を元に戻しシステムを再起動します。"},
    {TextId::RebootNotice, "", ""},
    {TextId::OkButton, "OK", "OK"},
    {TextId::CancelButton, "CANCEL", "キャンセル"},

    {TextId::TermsText, kTermsEnglish, kTermsJapanese},
    {TextId::TermsTitle, "Firmware Update Utility For  ", "Firmware Update Utility For  "},
    {TextId::AgreeButton, "Agree", "合意する"},
    {TextId::NotAgreeButton, "Not Agree", "合意しない"},

    {TextId::MainCaption, "Firmware Update Utility " QX_VERSION_LABEL " for  %s",
     "Firmware Update Utility " QX_VERSION_LABEL " for  %s"},
    {TextId::DriveLabel, "CD-Drive", "CD ドライブ"},
    {TextId::UpdateStartButton, "Update Start", "アップデート開始"},
    {TextId::MainCancelButton, "CANCEL", "中止"},
    {TextId::AboutMenu, "About", "バージョン情報"},
    {TextId::AboutSystemMenu, "&About Corvell...", "&About Corvell..."},
    {TextId::ScanComplete, "Scan Complete.", "スキャン終了。"},
    {TextId::NowUpdating, "Now Updating...", "アップデート中…"},
    {TextId::UpdateFailedStatus, "Update Failed.", "アップデート失敗。"},
    {TextId::UpdateFailedBox, "Update Failed.", "アップデートに失敗しました。"},
    {TextId::UpdateComplete, "Update Complete.", "アップデート終了。"},
    {TextId::ErrorPrefix, "", "エラー:"},
    {TextId::WaitingForWorker, "Waiting for the update to end...",
     "アップデートの終了を待っています…"},
    {TextId::RevisionNotConfirmed,
     "After the update the drive reports firmware revision %1, but %2 was expected.\r\n"
     "The drive is still running its old firmware.\r\n"
     "Click OK, then CANCEL, and let the computer restart (restart it yourself if it does "
     "not); then run the utility again.",
     "アップデート後、ドライブはリビジョン %1 を報告しています。予定のリビジョンは %2 です。\r\n"
     "ドライブは古いファームウェアのまま動作しています。\r\n"
     "OK、続いて中止をクリックし、コンピュータを再起動させてください (再起動しない場合は"
     "手動で再起動してください)。その後、もう一度実行してください。"},
    {TextId::NoAnswerAfterUpdate,
     "After the update the drive did not answer; firmware revision %2 was expected.\r\n"
     "The firmware may not have been updated. Do not switch off the computer.\r\n"
     "Click OK, then CANCEL, and let the computer restart (restart it yourself if it does "
     "not); then run the utility again: it tells you whether the drive runs the new firmware.",
     "アップデート後、ドライブが応答しません。予定のリビジョンは %2 です。\r\n"
     "ファームウェアがアップデートされていない可能性があります。"
     "コンピュータの電源を切らないでください。\r\n"
     "OK、続いて中止をクリックし、コンピュータを再起動させてください (再起動しない場合は"
     "手動で再起動してください)。その後、もう一度実行すると、新しいファームウェアで動作して"
     "いるかどうかがわかります。"},
    {TextId::LogLocation, "Update log: %1", "アップデートログ: %1"},
    {TextId::TimedOutAdvice,
     "The drive may still be taking the firmware. Do not switch off the computer: after "
     "CANCEL the utility waits until the drive has finished.",
     "ドライブはまだファームウェアを受け取っている可能性があります。コンピュータの電源を"
     "切らないでください。中止をクリックすると、ドライブが終わるまで待ちます。"},
    {TextId::CheckingDrive, "Checking the drive...", "ドライブを確認しています…"},
    {TextId::ProgramOnTargetDrive,
     "This program is running from a CD drive that the update may write to.\r\n"
     "Copy the program to the hard disk first, and run it from there.",
     "このプログラムは、アップデートするCD ドライブから実行されている可能性があります。\r\n"
     "プログラムをハードディスクにコピーしてから、そこで実行してください。"},

    {TextId::NotSupport, "Not Support.", "サポートしないCD ドライブです。"},
    {TextId::NotSupportFirmware, "Not support firmware.", "サポートしないファームウェアです。"},
    {TextId::UnnecessaryUpdate, "Unnecessary Firmware Update Drive.",
     "ファームウェアのアップデートは不要です。"},
    {TextId::StatusBlank, " ", " "},
    {TextId::NotSupportVersion, "Not Support Version.", "サポートしないファームウェアです。"},

    {TextId::AboutCaption, "About  Firmware Update Utility", "About  Firmware Update Utility"},
    {TextId::AboutProduct, "Firmware Update Utility", "Firmware Update Utility"},
    {TextId::AboutVersion, QX_VERSION_LABEL, QX_VERSION_LABEL},
    {TextId::AboutFirmLabel, "Firm Version", "Firm Version"},
    {TextId::AboutNotice, kAboutNotice, kAboutNotice},

    {TextId::OsInfoError, "Cannot get operationg system information.",
     "オペレーティングシステムの情報を取得できません。"},
    {TextId::AspiInitFail, "ASPI Initialize Fail!", "ASPI初期化に失敗しました。"},
    {TextId::HandleError, "Get Handle Error: %d\n", "ハンドル取得に失敗しました: %d\n"},
    {TextId::NoDevice, "No Device.", "No Device."},
    {TextId::InUse, "Inuse", "Inuse"},
    {TextId::BufferTooBig, "Buffer Too Big", "Buffer Too Big"},
    {TextId::RequestError, "Error opening . Error: %d\n", "Error opening . Error: %d\n"},
    {TextId::FormatMessageFailed, "Format message failed.  Error: %d\n",
     "Format message failed.  Error: %d\n"},
    {TextId::StatusLabel, " Status : ", " Status : "},
    {TextId::AspiTimeout, "Aspi Timeout Error.", "Aspi Timeout Error."},
    {TextId::AspiAborted, "Aborted.", "Aborted."},
    {TextId::AspiAbortFailed, "Failed Abort.", "Failed Abort."},
    {TextId::AspiInvalidHa, "Invalid Ha.", "Invalid Ha."},
    {TextId::AspiInvalidSrb, "Invalid SRB.", "Invalid SRB."},
    {TextId::AspiNotInitialised, "Faild Initailize.", "Faild Initailize."},
    {TextId::AspiBusy, "Aspi is busy.", "Aspi is busy."},
    {TextId::AspiTargetBusy, "This target is executing now.", "This target is executing now."},
    {TextId::AspiNoMemory, "Memory Allocation Error.", "Memory Allocation Error."},
    {TextId::AspiDataCompare, "Data Compare Error.", "Data Compare Error."},
    {TextId::AspiOtherStatus, "ASPI Error", "ASPI Error"},
    {TextId::ScsiError, "Scsi Error.", "Scsi Error."},
    {TextId::AspiErrorBox, "Aspi Error : %1", "Aspi Error : %1"},
};

constexpr bool EntriesInIdOrder() {
  for (std::size_t i = 0; i < sizeof(kEntries) / sizeof(kEntries[0]); ++i) {
    if (static_cast<std::size_t>(kEntries[i].id) != i) return false;
  }
  return true;
}

static_assert(sizeof(kEntries) / sizeof(kEntries[0]) == kTextIdCount,
              "every text id needs exactly one catalogue entry");
static_assert(EntriesInIdOrder(), "catalogue entries must follow the order of TextId");

struct Table {
  std::array<std::string, kTextIdCount> english;
  std::array<std::string, kTextIdCount> japanese;
};

const Table& BuildTable() {
  static const Table table = [] {
    Table t;
    for (std::size_t i = 0; i < kTextIdCount; ++i) {
      const Entry& e = kEntries[i];
      t.english[i] = e.english;
      if (e.japanese != nullptr) t.japanese[i] = e.japanese;
    }
    const std::string head = kRebootJapaneseHead;
    t.japanese[static_cast<std::size_t>(TextId::RebootConfirm)] =
        head + "再起動後ファームウェアのアップデートを行ってください。";
    t.japanese[static_cast<std::size_t>(TextId::RebootConfirmNoResume)] =
        head + "再起動後もう一度このプログラムを実行してください。";
    return t;
  }();
  return table;
}

}  // namespace

Language LanguageFor(int codePage) {
  return codePage == 932 ? Language::Japanese : Language::English;
}

const std::string& Text(TextId id, Language language) {
  static const std::string kNone;
  const auto index = static_cast<std::size_t>(id);
  if (index >= kTextIdCount) return kNone;
  const Table& table = BuildTable();
  return language == Language::Japanese ? table.japanese[index] : table.english[index];
}

std::string FormatText(const std::string& pattern, const std::string& argument) {
  std::string out;
  out.reserve(pattern.size() + argument.size() * 2);
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's') {
      out += argument;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

std::string FormatNumbered(const std::string& pattern, const std::string& first,
                           const std::string& second) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (pattern[i] == '%' && (next == '1' || next == '2')) {
      out += next == '1' ? first : second;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

}  // namespace qx
