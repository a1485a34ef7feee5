// The tooltip's commit line, shown only while the charge nears its limit.
#include "tray/tray.h"

#include "clean/memory_use.h"
#include "common/text.h"

#include <wchar.h>

void FormatTooltipWithCommit(wchar_t (&tip)[128], double used_gb, double total_gb, int load_percent,
                             const CommitCharge& commit, int32_t commit_warn_percent) {
  FormatTooltip(tip, used_gb, total_gb, load_percent);
  if (!CommitAtWarnLevel(commit, commit_warn_percent)) return;
  wchar_t line[COMMIT_TEXT_CAPACITY];
  FormatCommitText(line, commit);
  size_t length = wcsnlen(tip, 128);
  // Past a first part that fills the field, the line is cut or left out.
  if (length < 127) FormatBounded(tip + length, 128 - length, L"\n%s", line);
}
