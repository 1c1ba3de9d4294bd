#!/usr/bin/env bash
# Fails when an #include in src/ points the wrong way. Each folder may include only the folders
# its row names (itself among them): core <- status, http <- features <- server <- main, and a
# feature only the features below it, so no two features depend on each other. Within a folder, no
# two modules (x.h and x.cc are module x) may include each other either.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A may_include=(
  [core]="core"
  [status]="core status"
  [http]="core http"
  [settings]="core http settings"
  [workspace]="core http workspace"
  [tour]="core http tour"
  [logbook]="core http status logbook"
  [bridge]="core http status settings bridge"
  [actions]="core http status settings bridge actions"
  [parts]="core http status settings bridge actions parts"
  [server]="core http status settings workspace tour logbook bridge actions parts server"
  [main]="core http status settings workspace tour logbook bridge actions parts server main"
)

failed=0
declare -A includes_module=()  # "a b": module a includes a header of module b, in one folder
while IFS= read -r file; do
  folder=${file#src/}
  folder=${folder%%/*}
  allowed=${may_include[$folder]:-}
  if [ -z "$allowed" ]; then
    echo "$file: src/$folder/ has no row in the layer table of $0"
    failed=1
    continue
  fi
  module=${file#src/}
  module=${module%.*}
  while IFS=: read -r line target; do
    if [ "${target%%/*}" = "$folder" ] && [ "${target%.*}" != "$module" ]; then
      includes_module["$module ${target%.*}"]=1
    fi
    case " $allowed " in
      *" ${target%%/*} "*) ;;
      *)
        echo "$file:$line: includes \"$target\", but $folder/ may include only: $allowed"
        failed=1
        ;;
    esac
  done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
           sed -E 's/^([0-9]+):[^"]*"([^"]*)".*/\1:\2/')
done < <(find src -name '*.h' -o -name '*.cc' | sort)

mutual=$(for pair in "${!includes_module[@]}"; do
  read -r a b <<<"$pair"
  if [[ "$a" < "$b" && -n "${includes_module["$b $a"]:-}" ]]; then
    echo "src/$a and src/$b include each other's header: one of them must not know the other"
  fi
done | sort)
if [ -n "$mutual" ]; then
  echo "$mutual"
  failed=1
fi

if [ "$failed" -ne 0 ]; then
  echo "check-layers: includes point the wrong way (see the Layout table in README.md)"
  exit 1
fi
echo "check-layers: every include in src/ points down"
