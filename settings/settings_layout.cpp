// The settings window's layout: its rows as a table, in the order the
// window reads and Tab moves, and the rules that place them, from the
// measured widths of their texts to rectangles at the window's DPI, and the
// window's place in a work area. No window here: settings_window.cpp makes
// the controls where this says.
#include "settings/settings_internal.h"

#include "common/dpi.h"
#include "common/text.h"

// The controls in creation order, which is the Tab order and the order the
// window reads in: the left column top to bottom, the right one, then what
// runs across, then the language, OK and Cancel on one row, where the
// language takes no height of its own. A label comes just before its field,
// so that its access key moves the focus there. A row is added with one line
// (two for a label and its field); the layout makes room for it.
const SettingsRow kSettingsRows[SETTINGS_CONTROL_COUNT] = {
    {IDS_TRIGGERS, ROW_HEADING, 0, COLUMN_LEFT, false},
    {IDS_THRESHOLD, ROW_LABEL, 0, COLUMN_LEFT, false},
    {0, ROW_NUMBER, IDC_THRESHOLD, COLUMN_LEFT, true},
    {IDS_INTERVAL, ROW_LABEL, 0, COLUMN_LEFT, false},
    {0, ROW_NUMBER, IDC_INTERVAL, COLUMN_LEFT, true},
    {IDS_IDLE, ROW_LABEL, 0, COLUMN_LEFT, false},
    {0, ROW_NUMBER, IDC_IDLE, COLUMN_LEFT, true},
    {IDS_BOOT_DELAY, ROW_LABEL, 0, COLUMN_LEFT, false},
    {0, ROW_NUMBER, IDC_BOOT_DELAY, COLUMN_LEFT, true},
    {IDS_FREE_BELOW, ROW_LABEL, 0, COLUMN_LEFT, false},
    {0, ROW_NUMBER, IDC_FREE_BELOW_MB, COLUMN_LEFT, true},
    {0, ROW_SEPARATOR, 0, COLUMN_LEFT, false},
    {IDS_OPTIONS, ROW_HEADING, 0, COLUMN_LEFT, false},
    {IDS_AUTO_CLEAN, ROW_CHECK, IDC_AUTO_CLEAN, COLUMN_LEFT, false},
    {IDS_SILENT, ROW_CHECK, IDC_SILENT, COLUMN_LEFT, false},
    {IDS_START_WITH_WINDOWS, ROW_CHECK, IDC_START_WITH_WINDOWS, COLUMN_LEFT, false},
    {IDS_HOLD_WHEN_BUSY, ROW_CHECK, IDC_HOLD_WHEN_BUSY, COLUMN_LEFT, false},
    {IDS_SCHEDULE, ROW_HEADING, 0, COLUMN_RIGHT, false},
    {IDS_CLEAN_HOUR, ROW_LABEL, 0, COLUMN_RIGHT, false},
    {0, ROW_NUMBER, IDC_CLEAN_HOUR, COLUMN_RIGHT, true},
    {IDS_CLEAN_MINUTE, ROW_LABEL, 0, COLUMN_RIGHT, false},
    {0, ROW_NUMBER, IDC_CLEAN_MINUTE, COLUMN_RIGHT, true},
    {IDS_NOTIFY_MIN, ROW_LABEL, 0, COLUMN_RIGHT, false},
    {0, ROW_NUMBER, IDC_NOTIFY_MIN_MB, COLUMN_RIGHT, true},
    {IDS_COMMIT_WARN, ROW_LABEL, 0, COLUMN_RIGHT, false},
    {0, ROW_NUMBER, IDC_COMMIT_WARN, COLUMN_RIGHT, true},
    {IDS_SHOW_STATUS, ROW_CHECK, IDC_SHOW_STATUS, COLUMN_RIGHT, false},
    {0, ROW_SEPARATOR, 0, COLUMN_RIGHT, false},
    {IDS_CLEAN_STEPS, ROW_HEADING, 0, COLUMN_RIGHT, false},
    {IDS_TRIM_WORKING_SETS, ROW_CHECK, IDC_TRIM_WORKING_SETS, COLUMN_RIGHT, false},
    {IDS_FLUSH_MODIFIED, ROW_CHECK, IDC_FLUSH_MODIFIED, COLUMN_RIGHT, true},
    {IDS_KEEP_FOREGROUND, ROW_CHECK, IDC_KEEP_FOREGROUND, COLUMN_RIGHT, false},
    {IDS_FLUSH_FILE_CACHE, ROW_CHECK, IDC_FLUSH_FILE_CACHE, COLUMN_RIGHT, false},
    {IDS_PURGE_STANDBY, ROW_LABEL, 0, COLUMN_RIGHT, false},
    {0, ROW_CHOICE, IDC_PURGE_STANDBY, COLUMN_RIGHT, false},
    {0, ROW_SEPARATOR, 0, COLUMN_ACROSS, false},
    {IDS_EXCLUSION, ROW_HEADING, 0, COLUMN_ACROSS, false},
    {IDS_EXCLUDE_LIST, ROW_LABEL, 0, COLUMN_ACROSS, false},
    {0, ROW_LIST, IDC_EXCLUDE_LIST, COLUMN_ACROSS, false},
    {IDS_LANGUAGE, ROW_LABEL, 0, COLUMN_ACROSS, false},
    {0, ROW_CHOICE, IDC_LANGUAGE, COLUMN_ACROSS, true},
    {IDS_OK, ROW_BUTTON, IDC_OK, COLUMN_ACROSS, true},
    {IDS_CANCEL, ROW_BUTTON, IDC_CANCEL, COLUMN_ACROSS, true},
};

namespace {

// 96-DPI figures of the layout.
constexpr int kMargin = SETTINGS_MARGIN;
constexpr int kColumnGap = 24;
constexpr int kLabelWidth = 200;  // a field's label, at least
constexpr int kFieldGap = 6;      // between a label and its field
constexpr int kFieldWidth = 70;
constexpr int kPairGap = 8;       // between the check boxes of a pair
constexpr int kLineHeight = SETTINGS_LINE_HEIGHT;  // a heading or label
constexpr int kFieldHeight = 22;
constexpr int kCheckHeight = 20;
constexpr int kSeparatorHeight = 2;
constexpr int kButtonWidth = 76;
constexpr int kButtonHeight = 28;
constexpr int kButtonGap = 6;
constexpr int kEditPadding = 4;  // an edit's sunken border around its text
constexpr int kButtonPadding = 8;
constexpr int kButtonTextPadding = 16;

// The space above a row, by the kind of its first control; none above the
// first row of a column.
int SpaceAbove(SettingsRowKind kind) {
  switch (kind) {
    case ROW_SEPARATOR:
      return 8;
    case ROW_CHECK:
      return 4;
    case ROW_LIST:
    case ROW_CHOICE:
      return 2;  // under its label
    case ROW_BUTTON:
      return 14;
    default:
      return 6;
  }
}

// A label with its number field beside it, and a check box with another.
bool HasFieldBeside(int i) {
  return kSettingsRows[i].kind == ROW_LABEL && i + 1 < SETTINGS_CONTROL_COUNT && kSettingsRows[i + 1].beside &&
         kSettingsRows[i + 1].kind == ROW_NUMBER;
}
// A label that starts the buttons' row with its drop-down list: the two at
// the left, the buttons at the right.
bool OpensButtonRow(int i) {
  return kSettingsRows[i].kind == ROW_LABEL && i + 1 < SETTINGS_CONTROL_COUNT && kSettingsRows[i + 1].beside &&
         kSettingsRows[i + 1].kind == ROW_CHOICE;
}
bool StartsPair(int i) {
  return kSettingsRows[i].kind == ROW_CHECK && i + 1 < SETTINGS_CONTROL_COUNT && kSettingsRows[i + 1].beside;
}

// The standby purge's items, in the order of their values (StandbyPurge).
const UINT kStandbyChoices[] = {IDS_STANDBY_NONE, IDS_STANDBY_WHOLE, IDS_STANDBY_LOW};
}  // namespace

void SettingsControlText(int index, wchar_t (&text)[SETTINGS_TEXT_CAPACITY]) {
  text[0] = 0;
  if (index >= 0 && index < SETTINGS_CONTROL_COUNT && kSettingsRows[index].text) LoadText(kSettingsRows[index].text, text);
}

int ChoiceItemCount(int id) {
  switch (id) {
    case IDC_PURGE_STANDBY:
      return static_cast<int>(ARRAYSIZE(kStandbyChoices));
    case IDC_LANGUAGE:
      return 1 + LANGUAGE_COUNT;
    default:
      return 0;
  }
}

void ChoiceItemText(int id, int item, wchar_t (&text)[SETTINGS_TEXT_CAPACITY]) {
  text[0] = 0;
  if (item < 0 || item >= ChoiceItemCount(id)) return;
  if (id == IDC_PURGE_STANDBY) LoadText(kStandbyChoices[item], text);
  else if (item == 0) LoadText(IDS_LANGUAGE_WINDOWS, text);
  else CopyBounded(text, SETTINGS_TEXT_CAPACITY, kLanguages[item - 1].native_name);
}

SettingsLayout LayOutSettings(UINT dpi, const SettingsTextMetrics& text) {
  auto scale = [dpi](int value) { return ScaleForDpi(value, dpi); };
  auto larger = [](int a, int b) { return a > b ? a : b; };
  auto smaller = [](int a, int b) { return a < b ? a : b; };
  const int margin = scale(kMargin);
  const int field_gap = scale(kFieldGap);
  const int field_width = scale(kFieldWidth);
  const int pair_gap = scale(kPairGap);
  const int button_gap = scale(kButtonGap);

  // Each row as tall as its fixed figure, or as its text needs.
  const int line = larger(scale(kLineHeight), text.height);
  const int field = larger(scale(kFieldHeight), text.height + scale(kEditPadding));
  const int field_row = larger(line, field);
  const int check = larger(scale(kCheckHeight), text.height);
  const int button = larger(scale(kButtonHeight), text.height + scale(kButtonPadding));
  const int button_row = larger(button, field_row);
  int button_width = scale(kButtonWidth);
  int buttons = 0;
  int lead = 0;  // what stands left of the buttons on their row, with the gap to them

  // Each column as wide as its widest row: the labels of its fields, which
  // line the fields up, a check box alone or a pair of them, a heading. What
  // runs across is as wide as both columns, or as its own rows need: the
  // buttons' row as its label, list and buttons side by side.
  int label_width[3] = {scale(kLabelWidth), scale(kLabelWidth), scale(kLabelWidth)};
  int first_of_pair[3] = {};
  int second_of_pair[3] = {};
  int column_width[3] = {};
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    const SettingsRow& row = kSettingsRows[i];
    int need = text.width[i] + (row.kind == ROW_CHECK ? text.check_width : 0);
    // A drop-down list: its widest item, the arrow beside it and the edges.
    if (row.kind == ROW_CHOICE) need += text.check_width + 2 * scale(kEditPadding);
    if (row.kind == ROW_BUTTON) {
      button_width = larger(button_width, text.width[i] + scale(kButtonTextPadding));
      ++buttons;
    } else if (OpensButtonRow(i)) {
      lead += need + field_gap;
    } else if (row.kind == ROW_CHOICE && row.beside) {
      lead += need + scale(kColumnGap);
    } else if (HasFieldBeside(i)) {
      label_width[row.column] = larger(label_width[row.column], need);
    } else if (StartsPair(i)) {
      first_of_pair[row.column] = larger(first_of_pair[row.column], need);
    } else if (row.kind == ROW_CHECK && row.beside) {
      second_of_pair[row.column] = larger(second_of_pair[row.column], need);
    } else if (row.kind != ROW_NUMBER) {
      column_width[row.column] = larger(column_width[row.column], need);
    }
  }
  for (int c = COLUMN_LEFT; c <= COLUMN_ACROSS; ++c) {
    column_width[c] = larger(column_width[c], label_width[c] + field_gap + field_width);
    if (first_of_pair[c]) column_width[c] = larger(column_width[c], first_of_pair[c] + pair_gap + second_of_pair[c]);
  }
  const int column_x[3] = {margin, margin + column_width[COLUMN_LEFT] + scale(kColumnGap), margin};
  const int content = larger(larger(column_x[COLUMN_RIGHT] + column_width[COLUMN_RIGHT] - margin, column_width[COLUMN_ACROSS]),
                             lead + buttons * button_width + (buttons - 1) * button_gap);
  const int width_of[3] = {column_width[COLUMN_LEFT], column_width[COLUMN_RIGHT], content};

  // Rows, top to bottom in each column; what runs across starts below both.
  SettingsLayout layout = {};
  int next_y[3] = {margin, margin, 0};
  bool started[3] = {};
  int top = 0;
  int row_height = 0;
  int bottom = margin;
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    const SettingsRow& row = kSettingsRows[i];
    const int c = row.column;
    const int x = column_x[c];
    const int width = width_of[c];
    int height = line;
    switch (row.kind) {
      case ROW_LABEL:
        if (HasFieldBeside(i)) height = field_row;
        if (OpensButtonRow(i)) height = button_row;
        break;
      case ROW_SEPARATOR:
        height = larger(1, scale(kSeparatorHeight));
        break;
      case ROW_NUMBER:
      case ROW_LIST:
      case ROW_CHOICE:
        height = field;
        break;
      case ROW_CHECK:
        height = check;
        break;
      case ROW_BUTTON:
        height = button;
        break;
      case ROW_HEADING:
        break;
    }
    if (!row.beside) {
      if (c == COLUMN_ACROSS && !started[COLUMN_ACROSS]) next_y[COLUMN_ACROSS] = larger(next_y[COLUMN_LEFT], next_y[COLUMN_RIGHT]);
      top = next_y[c] + (started[c] || c == COLUMN_ACROSS ? scale(SpaceAbove(OpensButtonRow(i) ? ROW_BUTTON : row.kind)) : 0);
      row_height = height;
      next_y[c] = top + height;
      started[c] = true;
    }
    RECT& at = layout.controls[i];
    switch (row.kind) {
      case ROW_LABEL:
        if (HasFieldBeside(i)) {
          // In the middle of its field's row, as wide as every label there.
          int label_top = top + (field_row - line) / 2;
          at = {x, label_top, x + label_width[c], label_top + line};
        } else if (OpensButtonRow(i)) {
          // At the left of the buttons' row, in its middle.
          int label_top = top + (row_height - line) / 2;
          at = {x, label_top, x + text.width[i], label_top + line};
        } else {
          at = {x, top, x + width, top + line};
        }
        break;
      case ROW_NUMBER: {
        // Beside its label; the row is as tall as the taller of the two.
        int left = x + label_width[c] + field_gap;
        int field_top = top + (field_row - field) / 2;
        at = {left, field_top, left + field_width, field_top + field};
        break;
      }
      case ROW_CHECK: {
        // The second of a pair starts halfway across the column, or past
        // the first's text when that needs more.
        int second = x + larger(first_of_pair[c] + pair_gap, smaller(width / 2, width - second_of_pair[c]));
        if (StartsPair(i)) at = {x, top, second - pair_gap, top + check};
        else if (row.beside) at = {second, top, x + width, top + check};
        else at = {x, top, x + width, top + check};
        break;
      }
      case ROW_BUTTON: {
        // Right-aligned, Cancel last.
        int after = 0;
        for (int j = i + 1; j < SETTINGS_CONTROL_COUNT && kSettingsRows[j].beside; ++j) ++after;
        int right = x + width - after * (button_width + button_gap);
        int button_top = top + (row_height - button) / 2;
        at = {right - button_width, button_top, right, button_top + button};
        break;
      }
      case ROW_CHOICE:
        if (row.beside) {
          // After its label, as wide as its widest item.
          int left = layout.controls[i - 1].right + field_gap;
          int field_top = top + (row_height - field) / 2;
          at = {left, field_top, left + text.width[i] + text.check_width + 2 * scale(kEditPadding), field_top + field};
        } else {
          at = {x, top, x + width, top + field};
        }
        break;
      default:
        at = {x, top, x + width, top + height};
        break;
    }
    bottom = larger(bottom, at.bottom);
  }
  layout.client = {margin + content + margin, bottom + margin};
  return layout;
}

SettingsPlace PlaceSettingsWindow(SIZE outer, const RECT& work, POINT top_left, bool centre, int scroll_bar) {
  SettingsPlace place = {};
  const LONG work_height = work.bottom - work.top;
  if (outer.cy > work_height && work_height > 0) {
    outer.cy = work_height;
    outer.cx += scroll_bar;
    place.scrolls = true;
  }
  if (centre) {
    top_left.x = work.left + (work.right - work.left - outer.cx) / 2;
    top_left.y = work.top + (work_height - outer.cy) / 2;
  }
  if (top_left.x + outer.cx > work.right) top_left.x = work.right - outer.cx;
  if (top_left.y + outer.cy > work.bottom) top_left.y = work.bottom - outer.cy;
  if (top_left.x < work.left) top_left.x = work.left;
  if (top_left.y < work.top) top_left.y = work.top;
  place.window = {top_left.x, top_left.y, top_left.x + outer.cx, top_left.y + outer.cy};
  return place;
}

SettingsTextMetrics MeasureSettingsText(HWND window, HFONT font, UINT dpi) {
  SettingsTextMetrics text = {};
  HDC dc = GetDC(window);
  if (!dc) return text;
  HGDIOBJ previous = SelectObject(dc, font);
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    // As the controls draw it: an access key's ampersand takes no room. A
    // drop-down list's items are drawn as they stand.
    const bool choice = kSettingsRows[i].kind == ROW_CHOICE;
    const int items = choice ? ChoiceItemCount(kSettingsRows[i].id) : 1;
    for (int item = 0; item < items; ++item) {
      wchar_t label[SETTINGS_TEXT_CAPACITY];
      if (choice) ChoiceItemText(kSettingsRows[i].id, item, label);
      else SettingsControlText(i, label);
      RECT extent = {};
      if (label[0] &&
          DrawTextW(dc, label, -1, &extent, DT_CALCRECT | DT_SINGLELINE | (choice ? DT_NOPREFIX : 0)) &&
          extent.right > text.width[i])
        text.width[i] = extent.right;
    }
  }
  TEXTMETRICW metrics = {};
  if (GetTextMetricsW(dc, &metrics)) text.height = metrics.tmHeight;
  SelectObject(dc, previous);
  ReleaseDC(window, dc);
  text.check_width = SystemMetricForDpi(SM_CXMENUCHECK, dpi) + ScaleForDpi(6, dpi);
  return text;
}
