// Keeping the settings and applying start at logon, as the program does at
// start, on OK and on the menu's toggle; and telling the user what failed.
#include "app/app.h"

#include "settings/settings.h"
#include "tray/tray.h"

void NoteSettingsSaved(bool saved) {
  if (!saved)
    ShowTrayNotice(app.tray, NOTICE_SETTINGS_NOT_SAVED,
                   L"Settings could not be saved to config.ini; they apply until Quillmere exits.");
}

void NoteAutostartResult(bool was_on, AutostartResult result) {
  switch (AutostartNoticeFor(was_on, result)) {
    case AUTOSTART_NOTICE_NOT_ELEVATED:
      ShowBalloon(app.tray, L"Quillmere",
                  L"Start with Windows starts Quillmere elevated only when quillmere.exe and its folders can be "
                  L"changed by administrators alone, as when installed in Program Files.");
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
  NoteSettingsSaved(SaveSettings(settings, *app.file_platform, app.user_token));
  NoteAutostartResult(was_starting_with_windows, SetAutostart(settings.start_with_windows, *app.task_scheduler,
                                                              *app.exe_access, app.user_token));
}
