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
  wchar_t text[TRAY_BALLOON_TEXT_CAPACITY];
  if (!saved) ShowTrayNotice(app.tray, NOTICE_SETTINGS_NOT_SAVED, LoadText(IDS_NOTICE_NOT_SAVED, text));
}

void NoteAutostartResult(bool was_on, bool on, AutostartResult result, const AutostartAccounts& accounts) {
  // The notice keeps a copy of its text while it waits for the icon.
  wchar_t text[TRAY_BALLOON_TEXT_CAPACITY];
  switch (AutostartNoticeFor(was_on, on, result)) {
    case AUTOSTART_NOTICE_NOT_ELEVATED:
      ShowBalloon(app.tray, L"Quillmere", LoadText(IDS_NOTICE_AUTOSTART_ADMINS, text));
      break;
    case AUTOSTART_NOTICE_NOT_TRUSTED:
      ShowBalloon(app.tray, L"Quillmere", LoadText(IDS_NOTICE_AUTOSTART_USER, text));
      break;
    case AUTOSTART_NOTICE_OTHER_ACCOUNT:
      // Told as a failure is: even in silent mode, and at start once the
      // icon is in. A text cut short still names both accounts first.
      FormatOtherAccountNotice(text, ARRAYSIZE(text), accounts);
      ShowTrayNotice(app.tray, NOTICE_AUTOSTART_FAILED, text);
      break;
    case AUTOSTART_NOTICE_FAILED:
      ShowTrayNotice(app.tray, NOTICE_AUTOSTART_FAILED, LoadText(IDS_NOTICE_AUTOSTART_FAILED, text));
      break;
    default:
      break;
  }
}

void ApplyStoredSettings(const Settings& settings, bool was_starting_with_windows) {
  // The tooltip changes language at once; the menu, the popup and the
  // balloons as they are next shown.
  ApplyLanguage(settings);
  RedrawTrayIcon();
  NoteSettingsSaved(SaveSettings(settings, *app.file_platform, app.user_token));
  AutostartAccounts accounts;
  AutostartResult result = SetAutostart(settings.start_with_windows, *app.task_scheduler, *app.exe_access, accounts);
  NoteAutostartResult(was_starting_with_windows, settings.start_with_windows, result, accounts);
}

bool ApplyStartAtLogon() {
  // Defaults standing in for a file that could not be read would take away
  // what the user chose: only values read decide.
  if (app.settings.unread) return false;
  const bool on = app.settings.start_with_windows;
  AutostartAccounts accounts;
  AutostartResult result = SetAutostart(on, *app.task_scheduler, *app.exe_access, accounts);
  NoteAutostartResult(on, on, result, accounts);
  return result == AUTOSTART_ACCOUNT_UNKNOWN;
}
