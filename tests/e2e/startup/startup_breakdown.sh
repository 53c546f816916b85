#!/usr/bin/env bash
# Start-up breakdown (not a test): starts the instrumented builds idrovan_startup_trace.exe and
# feature_dialog_trace.exe in alternating rounds, <runs> times each, collects their trace points
# (support/startup_trace.h) and prints the median time of each start-up step of both side by
# side, then idrovan's timeline after showing: the first paint of each control and the font
# capture's extra paint.
#   tests/e2e/startup/startup_breakdown.sh <windows build dir> [runs]
set -euo pipefail
build=$(cd "$1" && pwd) runs=${2:-15}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)

trace_dir=$(mktemp -d)
trace=$trace_dir/trace.txt
source "$root/scripts/wine-env.sh"
if [[ -z ${STARTUP_BREAKDOWN_IN_WINE:-} ]]; then
  cmake --build "$build" --target idrovan_startup_trace feature_dialog_trace startup_timer \
    >/dev/null
  trap 'wine_env_stop; rm -rf "$trace_dir"' EXIT
  wine_env_start "$build/bench-wine"
else
  trap 'rm -rf "$trace_dir"' EXIT
fi
: >"$trace"
echo "instrumented builds (trace points cost a little; the benchmark above has none):"
IDROVAN_TRACE_FILE=$(wine64 winepath -w "$trace") STARTUP_TIMER_LINGER_MS=300 \
  wine "$build/tests/e2e/startup_timer.exe" "$runs" \
  "$(wine64 winepath -w "$build/tests/e2e/idrovan_startup_trace.exe")" \
  "$(wine64 winepath -w "$build/tests/e2e/feature_dialog_trace.exe")" | sed 's/^/  /'
python3 - "$trace" <<'PY'
import statistics, sys

runs = {}  # program -> list of {point#occurrence: ms since process creation}
for line in open(sys.argv[1]):
    fields = line.split()
    if not fields:
        continue
    if fields[0] == "run":
        current = {}
        runs.setdefault(fields[1].lower(), []).append(current)
        continue
    k = 1
    while f"{fields[1]}#{k}" in current:
        k += 1
    current[f"{fields[1]}#{k}"] = float(fields[0]) / 1000.0
for program in runs:
    runs[program] = runs[program][1:]  # the first start only warms Wine's caches
idrovan = runs.get("idrovan_startup_trace.exe", [])
feature = runs.get("feature_dialog_trace.exe", [])

def span(rs, a, b):
    values = [r[b] - (r[a] if a else 0.0) for r in rs if b in r and (a is None or a in r)]
    return statistics.median(values) if values else None

steps = [
    ("process and C runtime start, to the first global object", None, "app_constructed#1"),
    ("static construction, to InitInstance / WinMain", "app_constructed#1", "init_instance#1"),
    ("common controls (InitCommonControlsEx)", "init_instance#1", "common_controls_done#1"),
    ("dialog object before the hover timer", "common_controls_done#1", "timer_construct#1"),
    ("hover thread start: the timer's events and its thread", "timer_construct#1",
     "timer_thread_started#1"),
    ("hover thread start: the rest of the timer's constructor", "timer_thread_started#1",
     "timer_constructed#1"),
    ("dialog object after the hover timer (icon)", "timer_constructed#1", "dialog_constructed#1"),
    ("dialog window and its controls created", "dialog_constructed#1", "init_dialog#1"),
    ("binding the field and the button", "init_dialog#1", "controls_bound#1"),
    ("system menu entry (GetSystemMenu, string 3000, AppendMenu)", "controls_bound#1",
     "about_entry_added#1"),
    ("big and small icon (WM_SETICON twice)", "about_entry_added#1", "menu_and_icons_done#1"),
    ("the derivation (CDriveID::GetID)", "menu_and_icons_done#1", "id_derived#1"),
    ("SetFieldText before the tooltip window", "id_derived#1", "tooltip_create#1"),
    ("tooltip window (CreateTooltip; reference: its popup)", "tooltip_create#1",
     "tooltip_created#1"),
    ("SetFieldText after the tooltip window", "tooltip_created#1", "field_text_set#1"),
    ("UpdateData and the posted message", "field_text_set#1", "init_dialog_done#1"),
    ("end of initialisation to WM_SHOWWINDOW", "init_dialog_done#1", "dialog_show:-100#1"),
]
print(f"\nstart-up steps, medians in ms over {len(idrovan)} runs of each "
      "(reference: feature_dialog_trace)")
print(f"  {'step':58s} {'idrovan':>8s} {'ref':>8s}")
totals = [0.0, 0.0]
for label, a, b in steps:
    cells = []
    for i, rs in enumerate((idrovan, feature)):
        # A step that the reference lacks spans from the previous point it has.
        value = span(rs, a, b)
        if value is None and a is not None and rs is feature:
            cells.append("-")
            continue
        if value is None:
            cells.append("?")
            continue
        totals[i] += value
        cells.append(f"{value:.2f}")
    print(f"  {label:58s} {cells[0]:>8s} {cells[1]:>8s}")
print(f"  {'sum: process creation to WM_SHOWWINDOW':58s} {totals[0]:8.2f} {totals[1]:8.2f}")

names = {"-100": "dialog", "-101": "tooltip", "3001": "ID field", "3002": "Copy button",
         "2": "Close button", "-1": "label"}
def med(rs, key):
    values = [r[key] for r in rs if key in r]
    return statistics.median(values) if values else None
print("\nafter showing, idrovan (ms since process creation, medians):")
shown = med(idrovan, "dialog_show:-100#1")
keys = sorted({k for r in idrovan for k in r}, key=lambda k: med(idrovan, k))
for key in keys:
    t = med(idrovan, key)
    if shown is None or t < shown or key.startswith(("dialog_ended", "paint_end")):
        continue
    point, _, occurrence = key.partition("#")
    name, _, control = point.partition(":")
    label = f"{name} {names.get(control, control)}" if control else name
    extra = ""
    if name == "paint_begin":
        d = span(idrovan, key, key.replace("paint_begin", "paint_end"))
        extra = f"   lasts {d:.2f}" if d is not None else ""
    print(f"  {t:8.2f}  {label} #{occurrence}{extra}")
PY
if [[ -n ${STARTUP_BREAKDOWN_KEEP:-} ]]; then cp "$trace" "$STARTUP_BREAKDOWN_KEEP"; fi
