#!/bin/bash
# Times the typical scene's GIF export of this tree against that of an older
# commit, in turns on the same machine, since a shared machine's speed drifts
# from minute to minute:
#     bench/export/against.sh <commit> [rounds]
# Each round runs five exports in each build; the medians of the rounds' medians
# and their ratio are printed. The older tree gets the same timing switch
# (VELLUMO_BENCH_GIF_TIMES) if it lacks it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
commit=${1:?which commit to compare with}
rounds=${2:-5}
work=$(mktemp -d)
cleanup() {
    git -C "$root" worktree remove --force "$work/tree" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
git -C "$root" worktree add --detach "$work/tree" "$commit" >/dev/null 2>&1
old="$work/tree/bench/export/bench_export.cpp"
if ! grep -q VELLUMO_BENCH_GIF_TIMES "$old"; then
    # The switch's block from this tree, put before the older GIF section.
    awk -v new="$root/bench/export/bench_export.cpp" '
        BEGIN { while ((getline line < new) > 0) {
                    if (line ~ /VELLUMO_BENCH_GIF_TIMES=N/) keep = 1
                    if (keep && line ~ /---- GIF/) keep = 0
                    if (keep) block = block line "\n" } }
        /---- GIF/ && !done { printf "%s", block; done = 1 }
        { print }' "$old" > "$old.new"
    mv "$old.new" "$old"
fi
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
for tree in "$work/tree" "$root"; do
    build="$work/build-$(basename "$tree")"
    [ "$tree" = "$root" ] && build="$root/build"
    cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
    cmake --build "$build" -j"$(nproc)" --target bench_export >/dev/null
done
then_bench="$work/build-tree/bench/bench_export" now_bench="$root/build/bench/bench_export"
times() { VELLUMO_BENCH_GIF_TIMES=5 QT_QPA_PLATFORM=offscreen "$1" 2>/dev/null | awk '/^gif times/ { print $4 }'; }
thens=() nows=()
for ((r = 1; r <= rounds; ++r)); do
    thens+=("$(times "$then_bench")")
    nows+=("$(times "$now_bench")")
    echo "round $r: $commit ${thens[-1]} s, now ${nows[-1]} s"
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
then_median=$(median "${thens[@]}") now_median=$(median "${nows[@]}")
awk -v a="$then_median" -v b="$now_median" -v c="$commit" \
    'BEGIN { printf "gif typical: %.3f s now against %.3f s at %s: ratio %.2f\n", b, a, c, b / a }'
