#!/usr/bin/env bash
# The folders' direction, read from every #include line: bridge/ includes nothing
# of the project outside itself, host/ nothing of extension/, and none of bridge/,
# host/ or extension/ anything of the programs that play the host or measure it
# (standin/, fuzz/, runner/, bench/). Each include that breaks a rule is named
# with its file and line.
#
#   layout_check.sh SOURCE_DIR
set -uo pipefail
root=$(cd "$1" && pwd -P)
cd "$root" || exit 2
failures=0

# top_of FILE PATH QUOTED: the project folder that the include of PATH in FILE
# reaches, or nothing for a header from outside the project. A quoted include is
# looked for beside FILE first, then from the root, as the compiler does here.
top_of() {
  local file=$1 path=$2 quoted=$3 found=
  if [[ $quoted == 1 && -e "$(dirname "$file")/$path" ]]; then
    found=$(realpath -m "$(dirname "$file")/$path")
  elif [[ -e "$root/$path" ]]; then
    found=$(realpath -m "$root/$path")
  elif [[ $path == */* && -d "$root/${path%%/*}" ]]; then
    found="$root/$path"  # a project folder, if not (or no longer) a file of it
  fi
  [[ $found == "$root"/* ]] || return 0
  found=${found#"$root"/}
  echo "${found%%/*}"
}

# allowed FROM TO: whether a file of folder FROM may include one of folder TO.
allowed() {
  local from=$1 to=$2
  case $to in standin | fuzz | runner | bench) return 1 ;; esac
  case $from in
    bridge) [[ $to == bridge ]] ;;
    host) [[ $to != extension ]] ;;
    *) return 0 ;;
  esac
}

while IFS= read -r -d '' file; do
  rel=${file#./}
  from=${rel%%/*}
  while IFS= read -r hit; do
    line=${hit%%:*}
    text=${hit#*:}
    if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
      to=$(top_of "$rel" "${BASH_REMATCH[1]}" 1)
    elif [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]+)\> ]]; then
      to=$(top_of "$rel" "${BASH_REMATCH[1]}" 0)
    else
      continue
    fi
    [[ -z $to ]] && continue
    if ! allowed "$from" "$to"; then
      echo "$rel:$line: $from/ may not include $to/: $(echo "$text" | sed 's/^[[:space:]]*//')"
      failures=$((failures + 1))
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file")
done < <(find ./bridge ./host ./extension -type f -print0)

if ((failures > 0)); then
  echo "layout_check: $failures include(s) against the folders' direction"
  exit 1
fi
echo "layout_check: bridge/, host/ and extension/ keep the folders' direction"
