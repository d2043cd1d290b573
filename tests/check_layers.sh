#!/bin/bash
# Fails when a driver source includes a header of a layer above its own.
# The layers, bottom to top:
#
#   frame < desc < protocol < results < stmt < connect < catalog
#
# A file under driver/<layer>/ may include headers of its own layer, of any
# layer below it and of include/ (the records both libraries share). An
# include is resolved as the compiler does for "...": next to the including
# file first, then from driver/, then from include/.
# Usage: check_layers.sh SOURCE_ROOT
set -u
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 1
[ -d driver ] || { echo "no driver/ under $root"; exit 1; }

layers=(frame desc protocol results stmt connect catalog)

# Edges allowed against the order, each with its reason ("FILE HEADER",
# both relative to driver/):
#   desc/my_desc.cpp -> protocol/my_proto.h: the descriptor's type mapping
#   reads the wire's column type codes and flag bits. my_proto.h holds those
#   numbers only (no code, no includes), so nothing above desc comes with it.
allowed=(
    "desc/my_desc.cpp protocol/my_proto.h"
)

rank() {
    local i
    for i in "${!layers[@]}"; do
        [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }
    done
    echo -1
}

# The layer of a path under driver/, or nothing (include/, system headers).
layer_of() {
    case $1 in
    driver/*/*) local rest=${1#driver/}; echo "${rest%%/*}" ;;
    esac
}

is_allowed() {
    local edge
    for edge in "${allowed[@]}"; do
        [ "$edge" = "$1 $2" ] && return 0
    done
    return 1
}

# Every layer directory must be known: a new one needs its place in the order.
bad=0
for d in driver/*/; do
    d=${d%/}; d=${d#driver/}
    if [ "$(rank "$d")" -lt 0 ]; then
        echo "driver/$d is in no layer: give it its place in $0"
        bad=1
    fi
done

files=0
while IFS= read -r f; do
    files=$((files + 1))
    own=$(layer_of "$f")
    r_own=$(rank "$own")
    dir=$(dirname "$f")
    while IFS= read -r inc; do
        if [ -e "$dir/$inc" ]; then
            target=$(realpath -m --relative-to=. "$dir/$inc")
        elif [ -e "driver/$inc" ]; then
            target=driver/$inc
        else
            continue   # include/, or not ours
        fi
        to=$(layer_of "$target")
        [ -n "$to" ] || continue
        r_to=$(rank "$to")
        [ "$r_to" -le "$r_own" ] && continue
        is_allowed "${f#driver/}" "${target#driver/}" && continue
        echo "$f ($own) includes $target ($to), a layer above it"
        bad=1
    done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$f")
done < <(find driver -mindepth 2 -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.inc' -o -name '*.c' \) | sort)

[ "$files" -gt 0 ] || { echo "no sources found under $root/driver"; exit 1; }
if [ "$bad" -ne 0 ]; then
    echo "layers run one way: ${layers[*]} (each may include only itself and those before it)"
    exit 1
fi
echo "$files files, every include at its own layer or below (${layers[*]})"
