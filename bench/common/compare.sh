# Side-by-side timing of one of our commands against a reference tool, for
# the bench scripts (sourced, bash). The two commands run in turn, A B A B
# ..., so a machine that speeds up or slows down during the run weighs on
# both alike; each figure is the median of the runs, and the ratio is the
# median of the pairwise ratios. User and system time are the system's own
# accounting of the finished command (bash's `times`), so they stay
# meaningful on a machine busy with other work, where wall time does not.
#
#   A=(ondalo-cli convert ...); B=(mpg123 -w ...)
#   compare_pair "ondalo-cli --to wav" "mpg123 -w" [RUNS]   (default: BENCH_RUNS or 5)
#
# `farm-bench`, where installed, gives the same comparison with more runs:
#   farm-bench --vs "mpg123 -q -w out.wav in.mp3" -- ondalo-cli convert ...

# Runs "$@" once; sets M_WALL, M_USER, M_SYS (seconds).
measure() {
    local start end t
    start=$(date +%s.%N)
    t=$({
        "$@" >/dev/null 2>&1
        times
    } | tail -n 1)
    end=$(date +%s.%N)
    M_WALL=$(echo "$start $end" | awk '{ printf "%.3f", $2 - $1 }')
    # "0m0.210s 0m0.060s": the command's user and system time
    M_USER=$(echo "$t" | awk '{ split($1, a, /[ms]/); printf "%.3f", a[1] * 60 + a[2] }')
    M_SYS=$(echo "$t" | awk '{ split($2, a, /[ms]/); printf "%.3f", a[1] * 60 + a[2] }')
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

compare_pair() {
    local label_a=$1 label_b=$2 runs=${3:-${BENCH_RUNS:-5}} i
    local -a aw au as bw bu bs rw rc
    "${A[@]}" >/dev/null 2>&1 || true # warm the page cache and the loader for both
    "${B[@]}" >/dev/null 2>&1 || true
    for ((i = 0; i < runs; i++)); do
        measure "${A[@]}"
        aw+=("$M_WALL") au+=("$M_USER") as+=("$M_SYS")
        measure "${B[@]}"
        bw+=("$M_WALL") bu+=("$M_USER") bs+=("$M_SYS")
        rw+=("$(echo "${aw[i]} ${bw[i]}" | awk '{ printf "%.3f", ($2 > 0 ? $1 / $2 : 0) }')")
        rc+=("$(echo "${au[i]} ${as[i]} ${bu[i]} ${bs[i]}" | awk '{ b = $3 + $4; printf "%.3f", (b > 0 ? ($1 + $2) / b : 0) }')")
    done
    printf '  %-42s %8s %8s %8s\n' "median of $runs runs, A and B in turn" "wall s" "user s" "sys s"
    printf '  %-42s %8.3f %8.3f %8.3f\n' "A $label_a" "$(median "${aw[@]}")" "$(median "${au[@]}")" "$(median "${as[@]}")"
    printf '  %-42s %8.3f %8.3f %8.3f\n' "B $label_b" "$(median "${bw[@]}")" "$(median "${bu[@]}")" "$(median "${bs[@]}")"
    printf '  %-42s %7.2fx wall, %.2fx user+sys; sys %.3f s vs %.3f s\n' "ratio A/B" "$(median "${rw[@]}")" \
        "$(median "${rc[@]}")" "$(median "${as[@]}")" "$(median "${bs[@]}")"
}
