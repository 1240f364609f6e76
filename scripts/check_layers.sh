#!/usr/bin/env bash
# Fails when a file includes a header from a folder above its own, or when a source file lies
# in a folder that belongs to no layer. A file's layer is its folder; what each folder may
# include, lowest first:
#   base -> obrada -> image -> watermark       the core (never Qt)
#   lab, catalogue                             on the core
#   desktop/toolkit -> desktop/windows -> desktop/app    the desktop program, on the core
#   cli                                        the command line, on the core, lab and catalogue
#   tools                                      the screenshot driver, on the desktop program
# A private folder's headers are for its own layer only (image/codecs: the codecs behind
# image/image_io.h). Tests, benchmarks and fuzz targets may include anything.
set -euo pipefail
cd "$(dirname "$0")/.."

core='base obrada image watermark'
declare -A may_include=(
    [base]='base'
    [obrada]='base obrada'
    [image]='base obrada image'
    [watermark]="$core"
    [lab]="$core lab"
    [catalogue]="$core catalogue"
    [desktop/toolkit]="$core desktop/toolkit"
    [desktop/windows]="$core desktop/toolkit desktop/windows"
    [desktop/app]="$core desktop/toolkit desktop/windows desktop/app"
    [cli]="$core lab catalogue cli"
    [tools]="$core desktop/toolkit desktop/windows desktop/app tools"
)
declare -A private_to=(
    [image/codecs]='image'
)

# The layer folder of a path: the longest key of may_include that is a prefix of it.
layer_of() {
    local path=$1 best=''
    for key in "${!may_include[@]}"; do
        if [[ "$path" == "$key"/* && ${#key} -gt ${#best} ]]; then best=$key; fi
    done
    echo "$best"
}

status=0
while IFS= read -r file; do
    case "$file" in tests/* | bench/* | fuzz/*) continue ;; esac
    layer=$(layer_of "$file")
    if [ -z "$layer" ]; then
        echo "$file lies in no layer's folder" >&2
        status=1
        continue
    fi
    while IFS= read -r inc; do
        target=$(layer_of "$inc")
        if [ -z "$target" ] || [[ " ${may_include[$layer]} " != *" $target "* ]]; then
            echo "$file includes \"$inc\" from a higher layer" >&2
            status=1
        fi
        for folder in "${!private_to[@]}"; do
            if [[ "$inc" == "$folder"/* && "$layer" != "${private_to[$folder]}" ]]; then
                echo "$file includes \"$inc\", private to $folder" >&2
                status=1
            fi
        done
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files '*.cpp' '*.h')
[ $status -eq 0 ] && echo "layers: every include points down"
exit $status
