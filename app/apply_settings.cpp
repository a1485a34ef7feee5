// Keeping the settings and applying start at logon, as the program does at
// start, on OK and on the menu's toggle; and telling the user what failed.
#include "app/app.h"

#include "settings/settings.h"
#include "tray/tray.h"

void ApplyLanguage(const Settings& settings) {
  wchar_t preferred[256];
  ReadPreferredLanguages(preferred, ARRAYSIZE(preferred));
  UseLanguage(ChooseLanguage(settings.language, preferred));
  wchar_t separator[4];
  ReadDecimalSeparator(separator);
  UseDecimalSeparator(separator);
}

void NoteSettingsSaved(bool saved) {
  if (!saved)
    ShowTrayNotice(app.tray, NOTICE_SETTINGS_NOT_SAVED,
                   L"Settings could not be saved to config.ini; they apply until Quillmere exits.");
}

void NoteAutostartResult(bool was_on, AutostartResult result, const AutostartAccounts& accounts) {
  // Kept for a notice that waits for the icon.
  static wchar_t other_account[512];
  switch (AutostartNoticeFor(was_on, result)) {
    case AUTOSTART_NOTICE_NOT_ELEVATED:
      ShowBalloon(app.tray, L"Quillmere",
                  L"Start with Windows starts Quillmere elevated only when quillmere.exe and its folders can be "
                  L"changed by administrators alone, as when installed in Program Files.");
      break;
    case AUTOSTART_NOTICE_NOT_TRUSTED:
      ShowBalloon(app.tray, L"Quillmere",
                  L"Start with Windows starts Quillmere only when quillmere.exe and its folders can be changed by "
                  L"you and administrators alone, as when installed in Program Files.");
      break;
    case AUTOSTART_NOTICE_OTHER_ACCOUNT:
      // Told as a failure is: even in silent mode, and at start once the
      // icon is in. A text cut short still names both accounts first.
      FormatOtherAccountNotice(other_account, ARRAYSIZE(other_account), accounts);
      ShowTrayNotice(app.tray, NOTICE_AUTOSTART_FAILED, other_account);
      break;
    case AUTOSTART_NOTICE_FAILED:
      ShowTrayNotice(app.tray, NOTICE_AUTOSTART_FAILED,
                     L"Start with Windows could not be updated (Run value or logon task); Quillmere tries again "
                     L"at its next start.");
      break;
    default:
      break;
  }
}

void ApplyStoredSettings(const Settings& settings, bool was_starting_with_windows) {
  // The tooltip changes language at once; the menu, the popup and the
  // balloons as they are next shown.
  ApplyLanguage(settings);
  RefreshTray();
  NoteSettingsSaved(SaveSettings(settings, *app.file_platform, app.user_token));
  AutostartAccounts accounts;
  AutostartResult result = SetAutostart(settings.start_with_windows, *app.task_scheduler, *app.exe_access, accounts);
  NoteAutostartResult(was_starting_with_windows, result, accounts);
}
