#!/bin/sh
# Entries the program cannot read, made on the host before the fault tests:
#   long/            a folder whose own path is short, holding
#     D/             a folder (D's path is 200 characters as the program sees it) with
#       ok.txt       a file it can read,
#       F            a file whose full path is 300 characters, and
#       S/inner.txt  a folder whose path is 281 characters, with a file in it;
#   devices/         files named like devices (aux.txt, com1, nul, ...);
#   noaccess/        a folder without any permissions, holding a file
#                    (not made when running as root, who may read it anyway:
#                    the file as-root says so instead).
# The program sees the host's / as drive Z:, so a path's length there is 2 more.
set -e
top=$1
if [ -d "$top" ]; then chmod -R u+rwx "$top"; fi
rm -rf "$top"
mkdir -p "$top/long"

base=$(printf 'Z:%s/long/' "$top" | wc -c)
if [ "$base" -gt 150 ]; then
    echo "make_fault_tree: $top is too long a path for the long-path entries" >&2
    exit 1
fi
name() { head -c "$1" /dev/zero | tr '\0' "$2"; }
d=$(name $((200 - base)) d)
mkdir "$top/long/$d"
echo readable > "$top/long/$d/ok.txt"
echo unreachable > "$top/long/$d/$(name 99 f)"
mkdir "$top/long/$d/$(name 80 s)"
echo unreachable > "$top/long/$d/$(name 80 s)/inner.txt"

if [ "$(id -u)" -eq 0 ]; then
    : > "$top/as-root"
else
    mkdir "$top/noaccess"
    echo hidden > "$top/noaccess/hidden.txt"
    chmod 000 "$top/noaccess"
fi

# Files named like devices, each holding its own name and a line feed.
mkdir "$top/devices"
for n in aux.txt com1 nul con prn.log nul.txt plain.txt; do
    printf '%s\n' "$n" > "$top/devices/$n"
done
