#!/usr/bin/env bash
# zelp against xdelta3 and bsdiff on one generated case: a 128 MiB "ROM" with
# 20,000 scattered changes of 1-32 bytes (creating and applying a patch, each
# output checked with cmp), plus a 1,000,000-record patch for the cost per
# record; both against the least an in-place patcher must do (zelp_limit: the
# target read once, the changed bytes written, one flush; and the same with a
# journal of the old bytes made durable first and emptied durably after).
# Prints Markdown tables of medians and ratios.
#
# Needs the bench build (cmake --preset bench && cmake --build --preset bench)
# and xdelta3, bsdiff, hyperfine (scripts/deps.sh bench). Data goes to
# build/bench-data (ZELP_BENCH_DATA to change); RUNS (default 5) repetitions
# after one warm-up run; bsdiff's patch is made once (it takes minutes).
# ONLY_APPLY=1 measures only zelp apply against the limit and xdelta3.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bin=${ZELP_BENCH_BIN:-$root/build/bench}
data=${ZELP_BENCH_DATA:-$root/build/bench-data}
runs=${RUNS:-5}
zelp=$bin/src/cli/zelp
gen=$bin/bench/zelp_bench_gen
phases=$bin/bench/zelp_apply_phases
limit=$bin/bench/zelp_limit
size=134217728
only_apply=${ONLY_APPLY:-}

for tool in "$zelp" "$gen" "$phases" "$limit"; do
  [ -x "$tool" ] || { echo "compare.sh: $tool missing: build the bench preset first" >&2; exit 1; }
done
for tool in xdelta3 bsdiff bspatch hyperfine cmp python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "compare.sh: $tool missing (scripts/deps.sh bench)" >&2; exit 1; }
done

mkdir -p "$data"
cd "$data"
results=results.txt
: > "$results"
note() { echo "compare.sh: $*" >&2; }
put() { echo "$1 $2" >> "$results"; }

# Records the median wall time in seconds of one command under hyperfine (-N: no shell;
# commands that need one run under sh -c).
median() {  # name runs prepare "command"
  local name=$1 n=$2 prepare=$3 command=$4
  local args=(-N --style none --warmup 1 --runs "$n" --export-json "$name.json")
  [ -n "$prepare" ] && args+=(--prepare "$prepare")
  hyperfine "${args[@]}" "$command" >/dev/null
  put "$name" "$(python3 -c 'import json,sys
print(json.load(open(sys.argv[1]))["results"][0]["median"])' "$name.json")"
}

# Records the wall time (name) and peak resident memory (rss_name, KiB) of
# one run of a command.
once() {  # name command...
  local name=$1
  shift
  # GNU time: a wrapper in Python would count its own memory (a child's
  # peak includes what it was before exec).
  /usr/bin/time -f "$name %e"$'\n'"rss_$name %M" -a -o "$results" "$@" >/dev/null
}

same() { cmp -s "$1" "$2" || { note "$3: output differs from $2"; exit 1; }; }

# --- The inputs (made once, kept between runs) ------------------------------
[ -f old.rom ] || { note "making old.rom (128 MiB)"; "$gen" rom old.rom $size 1; }
[ -f new.rom ] || "$gen" mutate old.rom new.rom 20000 32 2
[ -f small.rom ] || "$gen" rom small.rom $((size / 4)) 3
[ -f small-new.rom ] || "$gen" mutate small.rom small-new.rom 5000 32 4
[ -f m.rom ] || "$gen" spread old.rom m.rom 1000000 4
sync old.rom new.rom m.rom

# --- Creating -----------------------------------------------------------
if [ -n "$only_apply" ]; then
  [ -f z.zelp ] || "$zelp" create old.rom new.rom -o z.zelp >/dev/null
  [ -f x.xd3 ] || xdelta3 -e -f -s old.rom new.rom x.xd3
else
note "create: zelp, xdelta3, bsdiff"
if "$zelp" create old.rom new.rom -o z.zelp >/dev/null 2>&1; then
  median create_zelp "$runs" "" "$zelp create old.rom new.rom -o z.zelp"
  once once_zelp "$zelp" create old.rom new.rom -o z.zelp
  once once_zelp_small "$zelp" create small.rom small-new.rom -o small.zelp
else
  note "zelp create is not available here: the zelp patch comes from zelp_bench_gen"
  "$gen" patch old.rom new.rom z.zelp >/dev/null
fi
median create_xdelta3 "$runs" "" "xdelta3 -e -f -s old.rom new.rom x.xd3"
once once_xdelta3 xdelta3 -e -f -s old.rom new.rom x.xd3
once once_xdelta3_small xdelta3 -e -f -s small.rom small-new.rom small.xd3
# bsdiff runs once: its suffix sort takes minutes on this size.
once create_bsdiff bsdiff old.rom new.rom b.bsdiff
put size_zelp "$(stat -c %s z.zelp)"
put size_xdelta3 "$(stat -c %s x.xd3)"
put size_bsdiff "$(stat -c %s b.bsdiff)"
fi

# --- The same change as IPS, UPS and BPS ----------------------------------
# IPS cannot reach offsets past 16 MiB: zelp create refuses it, and the
# table says so.
note "create and apply: IPS, UPS, BPS"
formats=(zelp ups bps)
if "$zelp" create old.rom new.rom -o z.ips >/dev/null 2>ips.err; then
  formats+=(ips)
  put size_ips "$(stat -c %s z.ips)"
else
  grep -q "16 MiB" ips.err || { note "zelp create (IPS): $(cat ips.err)"; exit 1; }
  put ips_refused 1
fi
# Creating each format and xdelta3 -e in interleaved rounds (the machine's
# busy moments weigh on all alike: the ratios to ZELP are the point); then
# each applied in place (a fresh, synced copy of the original each time) and
# to a new file, in rounds with xdelta3 -d.
rows=()
for f in "${formats[@]}"; do rows+=("fcreate_$f||$zelp create old.rom new.rom -o z.$f||"); done
python3 "$root/bench/rounds.py" "$runs" "$results" "${rows[@]}" \
  "fcreate_xdelta3||xdelta3 -e -f -s old.rom new.rom x.xd3||"
once once_bps "$zelp" create old.rom new.rom -o z.bps
once once_ups "$zelp" create old.rom new.rom -o z.ups
put size_bps "$(stat -c %s z.bps)"
put size_ups "$(stat -c %s z.ups)"
rows=()
for f in "${formats[@]}"; do
  rows+=("inplace_$f|cp old.rom t.rom && sync t.rom|$zelp apply z.$f t.rom|t.rom|new.rom"
         "applyo_$f|rm -f z.out|$zelp apply z.$f old.rom -o z.out|z.out|new.rom")
done
python3 "$root/bench/rounds.py" "$runs" "$results" "${rows[@]}" \
  "apply_xdelta3_fmt|rm -f x.out|sh -c 'xdelta3 -d -f -s old.rom x.xd3 x.out && sync x.out'|x.out|new.rom"

# --- Applying, each made durable ------------------------------------------
# zelp patches a copy of the original in place; the copy is synced first so
# that its flush writes only what zelp wrote. The peers write a new file.
# zelp, the limit with and without a journal, and xdelta3 in interleaved
# rounds: their ratios come from the same moments of the same run.
applied() {  # suffix patch expected xdelta3-patch
  python3 "$root/bench/rounds.py" "$runs" "$results" \
    "apply_zelp$1|cp old.rom t.rom && sync t.rom|$zelp apply $2 t.rom|t.rom|$3" \
    "limit$1|cp old.rom t.rom && sync t.rom|$limit $2 t.rom|t.rom|$3" \
    "limit_journal$1|cp old.rom t.rom && sync t.rom|$limit $2 t.rom --journal|t.rom|$3" \
    "apply_xdelta3$1|rm -f x.out|sh -c 'xdelta3 -d -f -s old.rom $4 x.out && sync x.out'|x.out|$3"
}
note "apply: zelp, the limit, xdelta3"
applied "" z.zelp new.rom x.xd3
note "apply: 1,000,000 records"
[ -f m.zelp ] || "$gen" patch old.rom m.rom m.zelp >/dev/null
[ -f m.xd3 ] || xdelta3 -e -f -s old.rom m.rom m.xd3
applied _1m m.zelp m.rom m.xd3
put size_zelp_1m "$(stat -c %s m.zelp)"
put size_xdelta3_1m "$(stat -c %s m.xd3)"

if [ -z "$only_apply" ]; then
note "apply: bspatch; the phases"
fresh="sh -c 'cp old.rom t.rom && sync t.rom'"
median apply_xdelta3_nosync "$runs" "rm -f x.out" \
  "xdelta3 -d -f -s old.rom x.xd3 x.out"
median apply_bspatch "$runs" "rm -f b.out" \
  "sh -c 'bspatch old.rom b.out b.bsdiff && sync b.out'"
same b.out new.rom "bspatch"
median cat_target "$runs" "" "cat old.rom"

# The flush apart: the same procedure in-process, its phases timed.
phase_medians() {  # patch original prefix [--no-journal]
  local i
  for i in $(seq "$runs"); do
    cp "$2" t.rom && sync t.rom
    "$bin/bench/zelp_apply_phases" "$1" t.rom ${4:-}
  done > "$3.phases"
  python3 - "$3.phases" "$3" >> "$results" <<'PY'
import statistics, sys
rows = [list(map(float, l.split())) for l in open(sys.argv[1])]
total = statistics.median(r[0] for r in rows) / 1000
crc = statistics.median(r[1] for r in rows) / 1000
flush = statistics.median(r[2] for r in rows) / 1000
rest = statistics.median((r[0] - r[2]) for r in rows) / 1000
p = sys.argv[2]
print(f"{p}_total {total}\n{p}_crc {crc}\n{p}_flush {flush}\n{p}_noflush {rest}")
PY
}
phase_medians z.zelp old.rom phases20k
same t.rom new.rom "zelp apply (phases)"
# The rollback journal's cost: the same without it.
phase_medians z.zelp old.rom phases20k_nj --no-journal
same t.rom new.rom "zelp apply (phases, no journal)"

# --- A million records ----------------------------------------------------
[ -f e.zelp ] || "$gen" patch old.rom old.rom e.zelp >/dev/null  # the end record alone
phase_medians m.zelp old.rom phases1m
same t.rom m.rom "zelp apply (1M records)"
phase_medians e.zelp old.rom phases0
fi

# --- The tables -----------------------------------------------------------
model=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
echo "Machine: $model, $(nproc) cores, $(free -g | awk '/^Mem:/{print $2}') GiB memory;" \
  "load average at the end $(cut -d' ' -f1-3 /proc/loadavg);" \
  "$(uname -sr); data on $(df -T . | awk 'NR==2{print $2}'); medians of $runs runs."
echo
python3 - "$results" <<'PY'
import sys
r = {}
for line in open(sys.argv[1]):
    k, v = line.split()
    r[k] = float(v)

def ms(k):
    return f"{r[k] * 1000:.1f} ms" if k in r else "n/a"

def ratio(a, b):
    return f"{r[a] / r[b]:.2f}×" if a in r and b in r else "n/a"

def mib(k):
    return f"{r[k] / 1024:.1f} MiB" if k in r else "n/a"

print("#### zelp apply against the limit (medians of interleaved rounds)\n")
print("The limit: the target read once (its CRC-32), the changed bytes written, one flush (the "
      "changes taken from the patch beforehand, not timed). The journalled limit adds a journal "
      "of the old bytes of every changed range, flushed with its folder before the first "
      "change, emptied with a flush after the target's (a success is only claimed once the "
      "journal can no longer undo it) and removed.\n")
print("| | 128 MiB, 20,000 changes | ÷ limit | ÷ journalled | 1,000,000 records of 4 bytes "
      "| ÷ limit | ÷ journalled |")
print("|---|---:|---:|---:|---:|---:|---:|")
for label, k in [("limit", "limit"), ("journalled limit", "limit_journal"),
                 ("**zelp apply** (in place)", "apply_zelp"),
                 ("xdelta3 -d + sync (a new file)", "apply_xdelta3"),
                 ("bspatch + sync (a new file)", "apply_bspatch")]:
    if k not in r and k + "_1m" not in r:
        continue
    cells = []
    for suffix in ("", "_1m"):
        cells += [ms(k + suffix), ratio(k + suffix, "limit" + suffix),
                  ratio(k + suffix, "limit_journal" + suffix)]
    print(f"| {label} | " + " | ".join(cells) + " |")
print()
if "create_zelp" not in r and "create_bsdiff" not in r:
    sys.exit(0)
print("#### 128 MiB, 20,000 scattered changes of 1–32 bytes (medians; bsdiff create: one run)\n")
print("| | zelp | xdelta3 | bsdiff | xdelta3 ÷ zelp | bsdiff ÷ zelp |")
print("|---|---:|---:|---:|---:|---:|")
print(f"| create | {ms('create_zelp')} | {ms('create_xdelta3')} | {ms('create_bsdiff')} | "
      f"{ratio('create_xdelta3', 'create_zelp')} | {ratio('create_bsdiff', 'create_zelp')} |")
print(f"| create, peak memory | {mib('rss_once_zelp')} | {mib('rss_once_xdelta3')} | "
      f"{mib('rss_create_bsdiff')} | | |")
print(f"| apply, made durable | {ms('apply_zelp')} | {ms('apply_xdelta3')} | {ms('apply_bspatch')} | "
      f"{ratio('apply_xdelta3', 'apply_zelp')} | {ratio('apply_bspatch', 'apply_zelp')} |")
print(f"| patch size | {int(r['size_zelp']):,} B | {int(r['size_xdelta3']):,} B | "
      f"{int(r['size_bsdiff']):,} B | | |")
print()
print("#### The same change as ZELP, IPS, UPS and BPS patches, beside xdelta3 and bsdiff "
      "(medians of interleaved rounds; bsdiff: one run)\n")
ips_cell = "cannot hold: offsets ≥ 16 MiB" if "ips_refused" in r else None


def row(label, cells):
    print(f"| {label} | " + " | ".join(cells) + " |")


def size(k):
    return f"{int(r[k]):,} B" if k in r else "n/a"


print("| | ZELP | IPS | UPS | BPS | xdelta3 | bsdiff |")
print("|---|---:|---:|---:|---:|---:|---:|")
row("`zelp create` (xdelta3 -e, bsdiff)",
    [ms("fcreate_zelp"), ips_cell or ms("fcreate_ips"), ms("fcreate_ups"), ms("fcreate_bps"),
     ms("fcreate_xdelta3"), ms("create_bsdiff")])
row("create ÷ ZELP create",
    ["1.00×", "" if ips_cell else ratio("fcreate_ips", "fcreate_zelp"),
     ratio("fcreate_ups", "fcreate_zelp"), f"**{ratio('fcreate_bps', 'fcreate_zelp')}**",
     ratio("fcreate_xdelta3", "fcreate_zelp"), ratio("create_bsdiff", "fcreate_zelp")])
row("create, peak memory",
    [mib("rss_once_zelp"), "", mib("rss_once_ups"), mib("rss_once_bps"), mib("rss_once_xdelta3"),
     mib("rss_create_bsdiff")])
row("patch size", [size("size_zelp"), ips_cell or size("size_ips"), size("size_ups"),
                   size("size_bps"), size("size_xdelta3"), size("size_bsdiff")])
row("`zelp apply` in place, made durable (xdelta3 -d + sync: a new file)",
    [ms("inplace_zelp"), "" if ips_cell else ms("inplace_ips"), ms("inplace_ups"),
     ms("inplace_bps"), ms("apply_xdelta3_fmt"), ""])
row("`zelp apply -o` (a new file), made durable",
    [ms("applyo_zelp"), "" if ips_cell else ms("applyo_ips"), ms("applyo_ups"),
     ms("applyo_bps"), ms("apply_xdelta3_fmt"), ""])
row("apply in place ÷ xdelta3 -d",
    [ratio("inplace_zelp", "apply_xdelta3_fmt"), "" if ips_cell else
     ratio("inplace_ips", "apply_xdelta3_fmt"), ratio("inplace_ups", "apply_xdelta3_fmt"),
     ratio("inplace_bps", "apply_xdelta3_fmt"), "1.00×", ""])
print()
print("#### zelp apply, where the time goes (medians)\n")
print("| | time | ÷ `cat target` |")
print("|---|---:|---:|")
print(f"| `cat target > /dev/null` (page cache) | {ms('cat_target')} | 1.0× |")
print(f"| zelp apply, end to end (as above) | {ms('apply_zelp')} | {ratio('apply_zelp', 'cat_target')} |")
print(f"| the same procedure in-process, phases timed: total | {ms('phases20k_total')} | "
      f"{ratio('phases20k_total', 'cat_target')} |")
print(f"| — the CRC-32 of the target | {ms('phases20k_crc')} | {ratio('phases20k_crc', 'cat_target')} |")
print(f"| — the flush (fsync) | {ms('phases20k_flush')} | |")
print(f"| — everything but the flush | {ms('phases20k_noflush')} | {ratio('phases20k_noflush', 'cat_target')} |")
print(f"| the same without the rollback journal: total | {ms('phases20k_nj_total')} | "
      f"{ratio('phases20k_nj_total', 'cat_target')} |")
print(f"| — the journal's cost (with ÷ without) | {ratio('phases20k_total', 'phases20k_nj_total')} | |")
print(f"| xdelta3 -d, without sync | {ms('apply_xdelta3_nosync')} | {ratio('apply_xdelta3_nosync', 'cat_target')} |")
if "rss_once_zelp_small" in r:
    print(f"\nPeak memory of create on a 32 MiB file (5,000 changes) and on the 128 MiB one: "
          f"zelp {mib('rss_once_zelp_small')} and {mib('rss_once_zelp')}, "
          f"xdelta3 {mib('rss_once_xdelta3_small')} and {mib('rss_once_xdelta3')}.")
print()
per = (r["phases1m_noflush"] - r["phases0_noflush"]) / 1e6 * 1e6
print("#### 1,000,000 records of 4 bytes over the 128 MiB file (medians)\n")
print("| | time |")
print("|---|---:|")
print(f"| zelp apply, end to end | {ms('apply_zelp_1m')} |")
print(f"| in-process, phases timed: total | {ms('phases1m_total')} |")
print(f"| — the flush | {ms('phases1m_flush')} |")
print(f"| — everything but the flush | {ms('phases1m_noflush')} |")
print(f"| the same for a patch of no records (end record only), but the flush | {ms('phases0_noflush')} |")
print(f"| **cost per record** | **{per:.2f} µs** |")
print(f"| xdelta3 -d + sync | {ms('apply_xdelta3_1m')} ({ratio('apply_xdelta3_1m', 'apply_zelp_1m')} zelp) |")
print(f"| patch sizes | zelp {int(r['size_zelp_1m']):,} B, xdelta3 {int(r['size_xdelta3_1m']):,} B |")
PY
