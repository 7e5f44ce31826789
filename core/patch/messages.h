#pragma once
// Every text the applier shows. The sources are UTF-8; the compiler turns these literals
// into code page 932 bytes, which is what the message boxes and the dialog receive.

namespace patch::msg {

// LoadWholeFile: text is the file's path.
inline constexpr char kOpenFailed[] = "ファイルがオープンできません";
inline constexpr char kSizeFailed[] = "ファイルサイズが取得できません";
inline constexpr char kAllocFailed[] = "メモリが確保できません";
inline constexpr char kLockFailed[] = "メモリが取得できません";
inline constexpr char kReadFailed[] = "ファイルが読めません";

// Patch data.
inline constexpr char kNoPatchData[] = "差分データが確認できません";  // caption; text: own path
inline constexpr char kUnusableData[] = "この差分データは使用できません";  // text
inline constexpr char kErrorCaption[] = "Error";
inline constexpr char kBrokenData[] = "差分情報に問題があります";  // text
inline constexpr char kAbnormalEnd[] = "異常終了";                // caption

// Files of an entry: text is the path named in each case.
inline constexpr char kChecksumMismatch[] = "CRCが一致しません";
inline constexpr char kWriteFailed[] = "ファイルに書き込みできません";
inline constexpr char kDeleteFailed[] = "ファイルが削除できません";
inline constexpr char kRenameFailed[] = "ファイル名が変更できません";
inline constexpr char kStampFailed[] = "ファイル時刻変更不能";  // caption; text "[%d]"

// A record of an update that was cut off, which neither finishes nor undoes it: text is
// the record's path.
inline constexpr char kRecordUnusable[] = "アップデートの記録が使用できません";

// Ends of the run.
inline constexpr char kCompleted[] = "正常終了";  // completion text; document box caption
inline constexpr char kFileUpdate[] = "ファイルアップデート";
inline constexpr char kShowDocument[] = "ドキュメントを表示します";

// Progress dialog line 902.
inline constexpr char kSkipping[] = "CRC相違(読み飛ばし中)";
inline constexpr char kSizeLinePrefix[] = "ファイルサイズ : ";
inline constexpr char kSizeLineSuffix[] = " ﾊﾞｲﾄ";

// File names. The update's own work files beside a target are "UPDATE" + its number +
// an extension (number 0 has none: "UPDATE.TMP"); the record lies in the applier's folder.
inline constexpr char kWorkFileStem[] = "UPDATE";
inline constexpr char kTempExtension[] = "TMP";      // the new file, until it takes its place
inline constexpr char kRollbackExtension[] = "BAK";  // the old file, until the update is whole
inline constexpr char kRecordExtension[] = "JNL";    // the record of the transaction
inline constexpr char kRecordDraftExtension[] = "JNT";  // the record while it is written
inline constexpr char kBackupExtension[] = "OLD";

}  // namespace patch::msg
