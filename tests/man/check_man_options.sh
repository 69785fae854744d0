#!/usr/bin/env bash
# Checks that a manual page agrees with its program's command line.
#
#   check_man_options.sh <page.1> <program> [<option>...]
#                        the long options the program's --help lists (after
#                        running it with the options given) are exactly the
#                        ones the page describes under OPTIONS, one .TP entry
#                        each, and --help names the program as the page does
#   check_man_options.sh <page.1>
#                        the program reads no command line: the page has no
#                        OPTIONS section
#
# Either way the page has NAME, SYNOPSIS, DESCRIPTION and EXIT STATUS.
# Prints what it compared; exits 1 naming every difference.
set -euo pipefail

page=$1
shift
name=$(basename "$page" .1)
problems=()

# The text of one section (from its .SH line to the next), escapes removed.
section() {
  awk -v want="$1" '
    /^\.SH / { title = $0; sub(/^\.SH +/, "", title); gsub(/"/, "", title); on = (title == want); next }
    on' "$page" | sed 's/\\-/-/g; s/\\f[BIRP]//g; s/\\(em/--/g'
}

for required in NAME SYNOPSIS DESCRIPTION "EXIT STATUS"; do
  grep -q "^\.SH \"\{0,1\}$required\"\{0,1\}\$" "$page" || problems+=("$name.1 has no $required section")
done

if [ $# -eq 0 ]; then
  if grep -q '^\.SH "\{0,1\}OPTIONS' "$page"; then
    problems+=("$name.1 has an OPTIONS section, but $name reads no command line")
  else
    echo "$name.1: no OPTIONS section; $name reads no command line"
  fi
else
  program=$1
  shift
  help=$(timeout 10 "$program" "$@" --help 2>&1) || problems+=("$program --help failed")
  listed=$(grep -oE -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u || true)
  # The tag line of each .TP entry under OPTIONS names its options.
  documented=$(section OPTIONS | awk 'tag { print; tag = 0 } /^\.TP/ { tag = 1 }' |
    grep -oE -- '--[a-z][a-z0-9-]*' | sort -u || true)
  for option in $(comm -23 <(echo "$listed") <(echo "$documented")); do
    problems+=("$option is listed by $name --help but not under OPTIONS in $name.1")
  done
  for option in $(comm -13 <(echo "$listed") <(echo "$documented")); do
    problems+=("$option is under OPTIONS in $name.1 but not listed by $name --help")
  done
  # The program calls itself by the name it is installed and documented under.
  grep -qiE "^usage: $name( |\$)" <<<"$help" || problems+=("$name --help does not begin its usage with \"$name\"")
  [ ${#problems[@]} -gt 0 ] || echo "$name.1 describes under OPTIONS every option $name --help lists:" $listed
fi

if [ ${#problems[@]} -gt 0 ]; then
  printf 'FAIL: %s\n' "${problems[@]}"
  exit 1
fi
