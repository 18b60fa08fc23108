#!/bin/sh
# The static checks of the source tree; each prints what it found and fails on any finding:
#   lint.sh format CLANG_FORMAT SOURCE             every C and C++ file keeps .clang-format's style
#   lint.sh shell SHELLCHECK SOURCE                every shell script passes shellcheck
#   lint.sh tidy CLANG_TIDY SOURCE FILE... -- FLAGS    the files pass .clang-tidy's checks
# The tool is the path CMake found for it, or its -NOTFOUND value.
set -eu
check=$1 tool=$2 source=$3
shift 3
case $check in
format) package=clang-format ;;
shell) package=shellcheck ;;
tidy) package=clang-tidy ;;
*) echo "unknown check: $check"; exit 2 ;;
esac
if [ ! -x "$tool" ]; then
  echo "$package not found: install the Debian package $package (scripts/install-deps.sh does" \
    "it), then configure again"
  exit 1
fi

# Every file of the source tree, but for Git's and those of build folders kept inside it.
tree_files() {
  find "$source" \( -name .git -o -type d -exec test -e '{}/CMakeCache.txt' ';' \) -prune \
    -o -type f -print | sort
}

# Runs the tool on the files listed on standard input, one a line; fails if there were none, as
# then the search, not the code, is at fault.
run_on_list() {
  list=$(cat)
  if [ -z "$list" ]; then
    echo "no files to check under $source"
    return 1
  fi
  echo "$check: $(echo "$list" | wc -l) files"
  echo "$list" | tr '\n' '\0' | xargs -0 "$tool" "$@"
}

case $check in
format)
  tree_files | grep -E '\.(c|cpp|h)$' | run_on_list --dry-run --Werror
  ;;
shell)
  # Scripts by extension, or by a shebang that names a shell.
  tree_files | while IFS= read -r file; do
    case $file in
    *.sh) echo "$file" ;;
    *) if head -n 1 "$file" | grep -Eq '^#!.*[/ ](ba|da|k)?sh( |$)'; then echo "$file"; fi ;;
    esac
  done | run_on_list
  ;;
tidy)
  "$tool" --quiet "$@"
  ;;
esac
