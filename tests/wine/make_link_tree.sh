#!/bin/sh
# A small tree whose subfolder holds a link back to the tree's top, and a
# link to a folder outside the tree (followed as an ordinary folder).
set -e
top=$1
rm -rf "$top" "$top-outside"
mkdir -p "$top/sub" "$top-outside"
echo a > "$top/a.txt"
echo b > "$top/sub/b.txt"
echo c > "$top-outside/c.txt"
ln -s .. "$top/sub/up"
ln -s "$top-outside" "$top/elsewhere"
