# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the parts of scripts/stress. A part reports each thing it tried as one row:
#   stress_row WHAT TRIED HELD LOST TEST
# WHAT   what was tried (short text)
# TRIED  how many times, with its unit ("1000000 records", "20 runs", "412345 inputs")
# HELD   what held (short text: "in order, exactly once; peak RSS 38 MiB")
# LOST   how many were lost or failed: 0 when everything held
# TEST   the test, script or fuzz target that produces the row
# Rows go to the file named by OMVARA_STRESS_ROWS (tab-separated), or to stdout without it.
stress_row() {
    if [ $# -ne 5 ]; then
        echo "stress_row: expected 5 fields, got $#" >&2
        return 2
    fi
    local row
    row=$(printf '%s\t%s\t%s\t%s\t%s' "$1" "$2" "$3" "$4" "$5" | tr -d '\n')
    if [ -n "${OMVARA_STRESS_ROWS:-}" ]; then
        printf '%s\n' "$row" >>"$OMVARA_STRESS_ROWS"
    else
        printf '%s\n' "$row"
    fi
}
