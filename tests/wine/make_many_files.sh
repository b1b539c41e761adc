#!/bin/sh
# A folder of many small files for the large-folder test, made on the host:
# TOP/files/ with files f000000.txt, f000001.txt, ... holding "content N" with N the file's
# number modulo 7 (no line end). Made here because under Wine every new file
# name is first looked for case-insensitively in the whole folder, which makes
# creating n files there cost n * n.
# Count: QUELLIN_SOAK_FILES, else 100000 with QUELLIN_SOAK=1, else 5000.
set -e
top=$1
dir=$top/files
if [ -n "${QUELLIN_SOAK_FILES:-}" ]; then
    count=$QUELLIN_SOAK_FILES
elif [ -n "${QUELLIN_SOAK:-}" ] && [ "$QUELLIN_SOAK" != 0 ]; then
    count=100000
else
    count=5000
fi
# Kept from an earlier run when the count is the same.
if [ -d "$dir" ] && [ "$(cat "$top/count" 2>/dev/null)" = "$count" ]; then
    exit 0
fi
rm -rf "$top"
mkdir -p "$dir"
awk -v d="$dir" -v n="$count" 'BEGIN {
    for (i = 0; i < n; i++) {
        f = sprintf("%s/f%06d.txt", d, i)
        printf "content %d", i % 7 > f
        close(f)
    }
}'
echo "$count" > "$top/count"
