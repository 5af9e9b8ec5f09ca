#!/usr/bin/env bash
# The layering of src/: the core and the platform layer never include a GUI
# header, and a folder includes only its own headers and those of the folders
# below it. The build enforces the same order through each library's include
# root; this check names every offending line at once.
set -euo pipefail
cd "$(dirname "$0")/.."

core_dirs=()
for dir in src/platform src/model src/engine src/net src/mirrors src/config src/explorer src/lists src/lang src/shell src/cli src/host; do
  # grep exits 2 for a missing folder even when it found a match elsewhere.
  [[ -d $dir ]] && core_dirs+=("$dir")
done
status=0
if ((${#core_dirs[@]})) && grep -rnE '#\s*include\s*[<"]Q' "${core_dirs[@]}"; then
  echo "error: a GUI header is included outside src/gui and src/app" >&2
  status=1
else
  echo "layers: no GUI header in the core"
fi

# The folders each folder may include, besides its own.
declare -A allowed=(
  [platform]=""
  [lang]="platform"
  [config]="lang platform"
  [net]="config lang platform"
  [model]="net config lang platform"
  [engine]="model net config lang platform"
  [explorer]="engine model net config lang platform"
  [lists]="engine model net config lang platform"
  [mirrors]="explorer engine model net config lang platform"
  [shell]="mirrors explorer lists engine model net config lang platform"
  [cli]="shell mirrors explorer lists engine model net config lang platform"
  [host]="shell mirrors explorer lists engine model net config lang platform"
)
declare -A known=()
for folder in "${!allowed[@]}"; do known[$folder]=1; done

wrong=0
for folder in "${!allowed[@]}"; do
  [[ -d src/$folder ]] || continue
  # file:line:#include "target/..."
  while IFS= read -r hit; do
    target=${hit#*\"}
    target=${target%%/*}
    [[ $target == "$folder" || -z ${known[$target]:-} ]] && continue
    if [[ " ${allowed[$folder]} " != *" $target "* ]]; then
      echo "$hit  ($folder may not include $target)" >&2
      wrong=1
    fi
  done < <(grep -rnE '^\s*#\s*include\s*"[a-z_]+/' "src/$folder" || true)
done

# A path that climbs out of the including file's folder would get round the
# include roots the build gives each library.
if grep -rnE '^\s*#\s*include\s*"[^"]*\.\./' src; then
  echo "error: an include climbs with \"../\"; name headers as \"folder/name.h\"" >&2
  wrong=1
fi

# A folder of src/ that the table does not know has no place in the order yet.
for dir in src/*/; do
  folder=$(basename "$dir")
  [[ -n ${known[$folder]:-} || $folder == gui || $folder == app ]] && continue
  echo "src/$folder: not in the layer order of scripts/check-layers.sh" >&2
  wrong=1
done

if ((wrong)); then
  echo "error: an include points up the layers (platform < lang < config < net < model < engine < explorer, lists < mirrors < shell < cli)" >&2
  status=1
else
  echo "layers: every include follows platform < lang < config < net < model < engine < explorer, lists < mirrors < shell < cli"
fi
exit $status
