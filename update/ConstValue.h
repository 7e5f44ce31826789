#pragma once
// The product profile: everything that ties the wizard to the one product and version it
// updates. Code page 932 byte strings (the sources are UTF-8 and compiled to CP932).

extern const char AppTitle[];
extern const char UpdateTitle[];
extern const char FolderLabelText[];
extern const char IntroText[];
extern const char TargetVersionText[];
extern const char DoneText[];
extern const char AfterUpdateText[];
extern const char BrowseCaption[];
extern const char UninstallKey[];
extern const char InstallPathValue[];
extern const char DefaultSubFolder[];
extern const char TargetExeName[];
extern const char PatchExeName[];
extern const char AppMutexName[];
extern const char PayloadResType[];
extern const char PayloadResName[];
extern const char BackupExt[];
extern const char MissingSystemText[];
extern const char UpToDateText[];
extern const char RecoveredText[];
extern const char RolledBackText[];
extern const char RecoveryFailedText[];
