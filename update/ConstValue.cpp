#include "ConstValue.h"

const char AppTitle[] = "Tesbrin 所得税アップデート";
const char UpdateTitle[] = "Tesbrin 所得税平成19年度版Ver2.0アップデート";
const char FolderLabelText[] = "Tesbrin 所得税平成19年度版Ver1.0の入っているフォルダ(&S)";
const char IntroText[] = "Tesbrin 所得税平成19年度版Ver2.0のアップデートを行います。システムのインストールされている";
// The gaps around the full-width colon are ideographic spaces (U+3000).
const char TargetVersionText[] = "アップデート対象バージョン\u3000：\u3000Ver1.0";
const char DoneText[] = "Tesbrin 所得税平成19年度版Ver2.0アップデート は完了しました。";
const char AfterUpdateText[] = "アップデート後はVer2.0となります。Tesbrin 所得税平成19年度版の";
const char BrowseCaption[] = "ディレクトリの選択";
const char UninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6B0D2F7A-93C1-4E58-A2D4-7F19C3E5B820}";
const char InstallPathValue[] = "DisplayIcon";
const char DefaultSubFolder[] = "TESBWIN\\LUNDER19\\";
const char TargetExeName[] = "Lunder19.EXE";
const char PatchExeName[] = "Lunder19Patch.EXE";
const char AppMutexName[] = "TESBWIN_LUNDER_H19";
const char PayloadModuleName[] = "patch";
const char PayloadResType[] = "PATCHDAT";
const char PayloadResName[] = "PATCH";
const char BackupExt[] = ".OLD";
const char AnswerFileName[] = "yes.txt";
const char MissingSystemText[] = "所得税平成19年度版のシステムが存在しません。フォルダを指定しなおしてください。";
